#pragma once
// The command line's owner of the disk image: loads LibDsk on first use and
// writes the core's messages to the terminal.

#include "CDiskImage.h"
#include "DiskLibrary.h"

#include <memory>
#include <string>

class CCliOwner : public IDiskOwner {
public:
    CCliOwner();
    ~CCliOwner() override;

    const DiskLibraryTable& LibraryTable() const override { return m_Library.Table(); }
    // Errors go to standard error as "ERROR: <text>", reports to standard output.
    void ShowMessage(const std::string& text, const std::string& caption,
                     MessageIcon icon) override;

    CDiskImage& Image() { return *m_pImage; }
    // The command's change of its image: begun by loading it for a change,
    // committed at the end of the command (rolled back if it never is).
    bool BeginChange(const std::string& path) {
        m_pChange = std::make_unique<CDiskImage::Transaction>(*m_pImage, path);
        return m_pChange->Began();
    }
    bool CommitChange() {
        const bool saved = !m_pChange || m_pChange->Commit();
        m_pChange.reset();
        return saved;
    }
    // Ends the change with nothing saved: the image file stays as it was.
    // Whether a change had begun.
    bool DropChange() {
        const bool began = m_pChange && m_pChange->Began();
        m_pChange.reset();
        return began;
    }
    Catalogue& Rows() { return m_Rows; }
    // The last error message shown, cleared by TakeLastError.
    std::string TakeLastError();
    // The cause shown with the last error message ("not a disk image"), if
    // any; kept until the next error message.
    const std::string& LastErrorCause() const { return m_strLastCause; }
    // Warnings (damage worked around, a disk only read) are said unless a
    // command has nothing to say of them: a search says only what stopped
    // it from looking.
    void ShowWarnings(bool shown) { m_bWarningsShown = shown; }

private:
    CDiskLibrary m_Library;
    std::unique_ptr<CDiskImage> m_pImage;
    std::unique_ptr<CDiskImage::Transaction> m_pChange;
    std::string m_strLastError;
    std::string m_strLastCause;
    bool m_bWarningsShown = true;
    Catalogue m_Rows;
};
