#pragma once
// A window showing one file of the image: its BASIC listing, a LocoScript
// document's text, its text, its bytes in hex and, for a screen file, the
// picture, each on a tab; beside them the file's facts. What it shows is
// decided by the same rules as the command line's cat and screen.

#include "FileFacts.h"
#include "FileView.h"
#include "IWindowDialogs.h"
#include "Screens.h"

#include <QImage>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

class QComboBox;
class QLabel;
class QPlainTextEdit;
class QTabWidget;
class CPictureView;

class CFileViewer : public QWidget {
    Q_OBJECT
  public:
    struct Contents {
        QString fileName;  // "0:DISK.BAS"
        QString imageName; // the image's file name
        // The file as stored (whole records); as much as could be read.
        std::vector<std::uint8_t> data;
        // Why the file could not be read whole ("" when it was).
        QString readFailure;
        FileFacts facts;
        // The image file: what Save As never writes over.
        FileIdentity image;
    };
    static constexpr const char* kBasicTab = "BASIC";
    static constexpr const char* kDocumentTab = "Document";
    static constexpr const char* kTextTab = "Text";
    static constexpr const char* kHexTab = "Hex";
    static constexpr const char* kPictureTab = "Picture";

    CFileViewer(Contents contents, IWindowDialogs* dialogs, QWidget* parent = nullptr);

    QTabWidget* Tabs() const { return m_Tabs; }
    // The text a tab shows; "" for the picture's tab or one not there.
    QString TabText(const QString& caption) const;
    // The screen as drawn, one pixel a pixel; null when the file is no screen.
    QImage ShownPicture() const { return m_Picture; }
    // Draws a CPC screen in mode 0, 1 or 2.
    void SetCpcMode(unsigned mode);
    // The facts shown, one "Label: value" a line.
    QString FactsText() const;
    // The note under the tabs: why a view stops early or is not there.
    QString NoteText() const;
    // Copy and Save As...: what the current tab shows (text or picture).
    void CopyShown();
    void SaveShownAs();

  private:
    void AddTextTab(const QString& caption, const QString& text, const QString& note);
    void AddPictureTab(ScreenKind kind);
    void ShowNoteOfTab(int index);
    void DrawScreen();
    QWidget* BuildFacts();

    Contents m_Contents;
    IWindowDialogs* m_pDialogs;
    QTabWidget* m_Tabs = nullptr;
    QLabel* m_Note = nullptr;
    QStringList m_Notes;    // by tab
    QString m_strFirstNote; // shown above every tab: why the file was not read whole
    std::span<const std::uint8_t> m_Screen;
    ScreenKind m_ScreenKind = ScreenKind::None;
    unsigned m_nCpcMode = 1;
    QComboBox* m_Mode = nullptr;
    CPictureView* m_PictureView = nullptr;
    // The screen as decoded (what Save As encodes), and as shown.
    Picture m_Drawn;
    QImage m_Picture;
    std::vector<std::pair<QString, QString>> m_Facts;
};
