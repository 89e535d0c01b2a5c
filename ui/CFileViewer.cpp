#include "CFileViewer.h"

#include "FileView.h"
#include "HostFile.h"
#include "LocoScript.h"
#include "Png.h"
#include "TextView.h"

#include <QApplication>
#include <algorithm>
#include <QClipboard>
#include <QComboBox>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>
#include <cstring>

// A picture scaled to fit its space, pixels kept square and sharp.
class CPictureView : public QWidget {
  public:
    explicit CPictureView(QWidget* parent) : QWidget(parent) { setMinimumSize(256, 200); }
    void SetImage(const QImage& image) {
        m_Image = image;
        update();
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.fillRect(rect(), palette().color(QPalette::Window));
        if (m_Image.isNull())
            return;
        // Whole multiples where the picture fits once at least, so that
        // every pixel is drawn the same size; scaled down to fit otherwise.
        const int times = std::min(width() / m_Image.width(), height() / m_Image.height());
        const QSize size = times >= 1 ? m_Image.size() * times
                                      : m_Image.size().scaled(this->size(), Qt::KeepAspectRatio);
        const QRect target(QPoint((width() - size.width()) / 2, (height() - size.height()) / 2),
                           size);
        painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
        painter.drawImage(target, m_Image);
    }

  private:
    QImage m_Image;
};

namespace {

// More than this is not shown in hex: a listing of megabytes helps no one.
constexpr std::size_t kMaxHexBytes = 1024 * 1024;

QString FromUtf8(const std::string& text) {
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

QImage ImageOf(const Picture& picture) {
    QImage image(int(picture.width), int(picture.height), QImage::Format_RGB888);
    for (unsigned y = 0; y < picture.height; ++y)
        std::memcpy(image.scanLine(int(y)), picture.rgb.data() + std::size_t{y} * picture.width * 3,
                    std::size_t{picture.width} * 3);
    return image;
}

} // namespace

CFileViewer::CFileViewer(Contents contents, IWindowDialogs* dialogs, QWidget* parent)
    : QWidget(parent, Qt::Window), m_Contents(std::move(contents)), m_pDialogs(dialogs) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("%1 - %2").arg(m_Contents.fileName, m_Contents.imageName));
    m_Tabs = new QTabWidget(this);
    m_Note = new QLabel(this);
    m_Note->setWordWrap(true);
    m_Note->setTextFormat(Qt::PlainText);

    const std::span<const std::uint8_t> bytes(m_Contents.data);
    const FileFacts& facts = m_Contents.facts;
    const std::span<const std::uint8_t> content = ContentAfterHeader(facts.header, bytes);
    if (!m_Contents.readFailure.isEmpty())
        m_strFirstNote = QStringLiteral("The file could not be read whole: %1. What was read is "
                                        "shown.")
                             .arg(m_Contents.readFailure);

    const FileView chosen = ChosenView(facts.kind);
    std::string refusal;
    if (chosen == FileView::Basic) {
        if (const auto listing = ListBasicFile(facts.header, bytes, ListingStyle::AsShown, refusal))
            AddTextTab(QString::fromLatin1(kBasicTab), FromUtf8(listing->text),
                       FromUtf8(listing->warning.empty() ? listing->note : listing->warning));
    }
    if (chosen == FileView::LocoScript) {
        const LocoScriptText text = LocoScriptToText(bytes, LocoScriptStyle::Text);
        AddTextTab(QString::fromLatin1(kDocumentTab), FromUtf8(text.text),
                   FromUtf8(text.warning.empty() ? text.note : text.warning));
    }
    AddTextTab(QString::fromLatin1(kTextTab), FromUtf8(TextOfFile(bytes, false)), {});
    const std::size_t hexBytes = std::min(bytes.size(), kMaxHexBytes);
    AddTextTab(
        QString::fromLatin1(kHexTab), FromUtf8(HexDump(bytes.first(hexBytes))),
        hexBytes < bytes.size()
            ? QStringLiteral("The first %1 bytes of %2 are shown.").arg(hexBytes).arg(bytes.size())
            : QString());
    m_ScreenKind = ScreenKindOf(facts.header, content.size());
    if (m_ScreenKind != ScreenKind::None) {
        m_Screen = content;
        AddPictureTab(m_ScreenKind);
    }
    // The tab cat or screen would choose.
    const char* first = m_ScreenKind != ScreenKind::None                   ? kPictureTab
                        : chosen == FileView::Basic && m_Tabs->count() > 2 ? kBasicTab
                        : chosen == FileView::LocoScript                   ? kDocumentTab
                        : chosen == FileView::Text                         ? kTextTab
                                                                           : kHexTab;
    for (int i = 0; i < m_Tabs->count(); ++i)
        if (m_Tabs->tabText(i) == QLatin1String(first))
            m_Tabs->setCurrentIndex(i);
    if (!refusal.empty())
        m_strFirstNote += (m_strFirstNote.isEmpty() ? QString() : QStringLiteral("\n")) +
                          FromUtf8(refusal) + QLatin1Char('.');
    connect(m_Tabs, &QTabWidget::currentChanged, this, &CFileViewer::ShowNoteOfTab);
    ShowNoteOfTab(m_Tabs->currentIndex());

    auto* copy = new QPushButton(QStringLiteral("&Copy"), this);
    auto* save = new QPushButton(QStringLiteral("&Save As..."), this);
    auto* close = new QPushButton(QStringLiteral("Close"), this);
    connect(copy, &QPushButton::clicked, this, &CFileViewer::CopyShown);
    connect(save, &QPushButton::clicked, this, &CFileViewer::SaveShownAs);
    connect(close, &QPushButton::clicked, this, &QWidget::close);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(copy);
    buttons->addWidget(save);
    buttons->addStretch();
    buttons->addWidget(close);

    auto* left = new QVBoxLayout;
    left->addWidget(m_Tabs, 1);
    left->addWidget(m_Note);
    left->addLayout(buttons);
    auto* layout = new QHBoxLayout(this);
    layout->addLayout(left, 1);
    layout->addWidget(BuildFacts());
    resize(860, 520);
}

void CFileViewer::AddTextTab(const QString& caption, const QString& text, const QString& note) {
    auto* view = new QPlainTextEdit(this);
    view->setReadOnly(true);
    view->setLineWrapMode(QPlainTextEdit::NoWrap);
    view->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    view->setPlainText(text);
    m_Tabs->addTab(view, caption);
    m_Notes.push_back(note);
}

void CFileViewer::AddPictureTab(ScreenKind kind) {
    auto* page = new QWidget(this);
    auto* layout = new QVBoxLayout(page);
    m_PictureView = new CPictureView(page);
    layout->addWidget(m_PictureView, 1);
    if (kind == ScreenKind::Cpc) {
        auto* row = new QHBoxLayout;
        m_Mode = new QComboBox(page);
        m_Mode->addItems({QStringLiteral("Mode 0 (160 x 200)"),
                          QStringLiteral("Mode 1 (320 x 200)"),
                          QStringLiteral("Mode 2 (640 x 200)")});
        m_Mode->setCurrentIndex(int(m_nCpcMode));
        connect(m_Mode, &QComboBox::currentIndexChanged, this,
                [this](int index) { SetCpcMode(unsigned(index)); });
        auto* label = new QLabel(QStringLiteral("CPC screen &mode:"), page);
        label->setBuddy(m_Mode);
        row->addWidget(label);
        row->addWidget(m_Mode);
        row->addStretch();
        layout->addLayout(row);
    }
    m_Tabs->addTab(page, QString::fromLatin1(kPictureTab));
    m_Notes.push_back({});
    DrawScreen();
}

void CFileViewer::DrawScreen() {
    const std::optional<Picture> picture = m_ScreenKind == ScreenKind::Spectrum
                                               ? SpectrumScreen(m_Screen)
                                               : CpcScreen(m_Screen, m_nCpcMode);
    m_Drawn = picture ? *picture : Picture{};
    m_Picture = picture ? ImageOf(*picture) : QImage();
    if (m_PictureView != nullptr)
        m_PictureView->SetImage(m_Picture);
}

void CFileViewer::SetCpcMode(unsigned mode) {
    if (m_ScreenKind != ScreenKind::Cpc || mode > 2)
        return;
    m_nCpcMode = mode;
    if (m_Mode != nullptr && m_Mode->currentIndex() != int(mode))
        m_Mode->setCurrentIndex(int(mode));
    DrawScreen();
}

void CFileViewer::ShowNoteOfTab(int index) {
    QString note = m_strFirstNote;
    if (index >= 0 && index < m_Notes.size() && !m_Notes[index].isEmpty())
        note += (note.isEmpty() ? QString() : QStringLiteral("\n")) + m_Notes[index];
    m_Note->setText(note);
    m_Note->setVisible(!note.isEmpty());
}

QString CFileViewer::NoteText() const {
    return m_Note->text();
}

QString CFileViewer::TabText(const QString& caption) const {
    for (int i = 0; i < m_Tabs->count(); ++i)
        if (m_Tabs->tabText(i) == caption)
            if (const auto* view = qobject_cast<QPlainTextEdit*>(m_Tabs->widget(i)))
                return view->toPlainText();
    return {};
}

QWidget* CFileViewer::BuildFacts() {
    const FileFacts& facts = m_Contents.facts;
    m_Facts.emplace_back(QStringLiteral("File"), m_Contents.fileName);
    m_Facts.emplace_back(QStringLiteral("Image"), m_Contents.imageName);
    m_Facts.emplace_back(QStringLiteral("Kind"), QString::fromLatin1(FileKindName(facts.kind)));
    m_Facts.emplace_back(QStringLiteral("Size"), QStringLiteral("%1 bytes").arg(facts.size));
    m_Facts.emplace_back(QStringLiteral("Records"), QString::number(facts.records));
    m_Facts.emplace_back(QStringLiteral("Blocks"), QString::number(facts.blocks));
    QStringList attributes;
    if (facts.readOnly)
        attributes << QStringLiteral("read-only");
    if (facts.system)
        attributes << QStringLiteral("system");
    if (facts.archive)
        attributes << QStringLiteral("archive");
    m_Facts.emplace_back(QStringLiteral("Attributes"),
                         attributes.isEmpty() ? QStringLiteral("none") : attributes.join(", "));
    if (facts.header) {
        const bool plus3 = facts.header->kind == FileHeader::Kind::Plus3Dos;
        m_Facts.emplace_back(QStringLiteral("Header"),
                             QStringLiteral("%1, %2 bytes of data")
                                 .arg(plus3 ? QStringLiteral("+3DOS") : QStringLiteral("AMSDOS"))
                                 .arg(facts.header->dataLength));
        if (plus3)
            m_Facts.emplace_back(
                QStringLiteral("Parameters"),
                QStringLiteral("%1, %2").arg(facts.header->param1).arg(facts.header->param2));
        else
            m_Facts.emplace_back(QStringLiteral("Load, entry"),
                                 QStringLiteral("&%1, &%2")
                                     .arg(facts.header->load, 4, 16, QLatin1Char('0'))
                                     .arg(facts.header->entry, 4, 16, QLatin1Char('0'))
                                     .toUpper());
    } else {
        m_Facts.emplace_back(QStringLiteral("Header"), QStringLiteral("none"));
    }
    if (!facts.about.empty())
        m_Facts.emplace_back(facts.header ? QStringLiteral("Saved as") : QStringLiteral("Document"),
                             FromUtf8(facts.about));
    const std::pair<const char*, const std::optional<CalendarTime>*> stamps[] = {
        {"Created", &facts.stamps.created},
        {"Accessed", &facts.stamps.accessed},
        {"Updated", &facts.stamps.updated}};
    for (const auto& [label, stamp] : stamps)
        if (*stamp)
            m_Facts.emplace_back(QString::fromLatin1(label), FromUtf8(FormatStamp(**stamp, ' ')));
    if (facts.passwordMode)
        m_Facts.emplace_back(
            QStringLiteral("Password"),
            QStringLiteral("needed to %1")
                .arg(QString::fromLatin1(PasswordProtectionName(*facts.passwordMode))));

    auto* box = new QWidget(this);
    auto* form = new QFormLayout(box);
    for (const auto& [label, value] : m_Facts) {
        auto* shown = new QLabel(value, box);
        shown->setTextFormat(Qt::PlainText);
        shown->setTextInteractionFlags(Qt::TextSelectableByMouse);
        form->addRow(label + QLatin1Char(':'), shown);
    }
    box->setMinimumWidth(240);
    return box;
}

QString CFileViewer::FactsText() const {
    QStringList lines;
    for (const auto& [label, value] : m_Facts)
        lines << label + QStringLiteral(": ") + value;
    return lines.join(QLatin1Char('\n'));
}

void CFileViewer::CopyShown() {
    const QString caption = m_Tabs->tabText(m_Tabs->currentIndex());
    if (caption == QLatin1String(kPictureTab))
        QApplication::clipboard()->setImage(m_Picture);
    else
        QApplication::clipboard()->setText(TabText(caption));
}

void CFileViewer::SaveShownAs() {
    const QString caption = m_Tabs->tabText(m_Tabs->currentIndex());
    const bool picture = caption == QLatin1String(kPictureTab);
    QString base = m_Contents.fileName.section(QLatin1Char(':'), 1);
    base = base.section(QLatin1Char('.'), 0, 0).toLower();
    const FileDialogSpec spec{
        true,
        picture ? QStringLiteral("png") : QStringLiteral("txt"),
        base + (picture ? QStringLiteral(".png") : QStringLiteral(".txt")),
        {picture ? QStringLiteral("PNG Pictures (*.png)") : QStringLiteral("Text Files (*.txt)"),
         QStringLiteral("All Files (*)")}};
    const QString path = m_pDialogs->ChooseFile(this, spec, QString());
    if (path.isEmpty())
        return;
    std::vector<std::uint8_t> bytes;
    std::string cause, warning;
    if (picture) {
        bytes = EncodePng(m_Drawn, cause);
    } else {
        const QByteArray text = TabText(caption).toUtf8();
        bytes.assign(text.begin(), text.end());
    }
    if ((picture && bytes.empty()) ||
        !WriteHostFile(path.toStdString(), bytes, &m_Contents.image, cause, warning)) {
        m_pDialogs->ShowMessage(this,
                                QStringLiteral("Unable to save %1\n%2: %3")
                                    .arg(caption.toLower(), path, FromUtf8(cause)),
                                QStringLiteral("ERROR"), MessageIcon::Error);
        return;
    }
    if (!warning.empty())
        m_pDialogs->ShowMessage(this, QStringLiteral("%1: %2").arg(path, FromUtf8(warning)),
                                QStringLiteral("Tarnlight"), MessageIcon::Warning);
}
