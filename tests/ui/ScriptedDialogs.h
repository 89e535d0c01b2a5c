#pragma once
// The window's choosers and message boxes answered from a script, and
// what the window asked of them kept for the tests to look at.

#include "IWindowDialogs.h"

#include <QString>
#include <QStringList>

#include <deque>
#include <functional>
#include <vector>

class ScriptedDialogs : public IWindowDialogs {
  public:
    struct Shown {
        QString text;
        QString caption;
        MessageIcon icon;
    };
    QString ChooseFile(QWidget*, const FileDialogSpec& spec, const QString& initialDir,
                       int* chosenFilter) override {
        specs.push_back(spec);
        initialDirs.push_back(initialDir);
        if (files.empty())
            return {};
        if (chosenFilter != nullptr && !filters.empty()) {
            *chosenFilter = filters.front();
            filters.pop_front();
        }
        QString answer = files.front();
        files.pop_front();
        return answer;
    }
    int ChooseFolder(QWidget*, const QString& title, const QString& root, bool selectRoot,
                     QString& chosen) override {
        folderTitles.push_back(title);
        folderRoots.push_back(root);
        folderRootSelected.push_back(selectRoot);
        if (folders.empty())
            return 2;
        chosen = folders.front();
        folders.pop_front();
        return 1;
    }
    void ShowMessage(QWidget*, const QString& text, const QString& caption,
                     MessageIcon icon) override {
        messages.push_back({text, caption, icon});
        if (whileShown)
            whileShown();
    }
    bool AskYesNo(QWidget*, const QString& text, const QString&) override {
        questions.push_back(text);
        if (answers.empty())
            return false;
        const bool answer = answers.front();
        answers.pop_front();
        return answer;
    }
    void ShowAbout(QWidget*) override { ++abouts; }
    QString ChooseItem(QWidget*, const QString&, const QString& label,
                       const QStringList& offered) override {
        itemLabels.push_back(label);
        itemLists.push_back(offered);
        if (items.empty())
            return {};
        QString answer = items.front();
        items.pop_front();
        return answer;
    }

    bool EditProperties(QWidget*, const QString& fileName, FileProperties& properties) override {
        propertiesAsked.push_back({fileName, properties});
        if (answeredProperties.empty())
            return false;
        properties = answeredProperties.front();
        answeredProperties.pop_front();
        return true;
    }

    // The properties each Properties dialog is answered with (cancelled
    // when none are left), and what each was shown.
    std::deque<FileProperties> answeredProperties;
    std::vector<std::pair<QString, FileProperties>> propertiesAsked;
    std::vector<QString> questions;
    std::deque<bool> answers;
    std::deque<QString> files;
    // The name filter chosen with each file, in turn (the first when none).
    std::deque<int> filters;
    std::deque<QString> folders;
    std::vector<FileDialogSpec> specs;
    std::vector<QString> initialDirs;
    std::vector<QString> folderTitles;
    std::vector<QString> folderRoots;
    std::vector<bool> folderRootSelected;
    std::vector<Shown> messages;
    std::function<void()> whileShown;
    int abouts = 0;
    std::deque<QString> items;
    std::vector<QString> itemLabels;
    std::vector<QStringList> itemLists;
};
