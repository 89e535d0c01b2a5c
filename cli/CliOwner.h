#pragma once
// The command line's owner of the disk image: loads LibDsk on first use and
// says what the image's operations told the user on the terminal.

#include "CDiskImage.h"
#include "DiskLibrary.h"

#include <memory>
#include <optional>
#include <string>

class CCliOwner : public IDiskOwner {
public:
    CCliOwner();
    ~CCliOwner() override;

    const DiskLibraryTable& LibraryTable() const override { return m_Library.Table(); }
    // Says the image's notices: errors on standard error as "ERROR: IMAGE:
    // TEXT: CAUSE", warnings as "WARNING: IMAGE: TEXT", reports (the
    // geometry) on standard output. Returns the last error said, if any.
    std::optional<Notice> SayNotices();

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
    // The error the last open of an image said, if it said one: a listing
    // names it.
    const std::optional<Notice>& OpenError() const { return m_OpenError; }
    void NoteOpenError(std::optional<Notice> error) { m_OpenError = std::move(error); }
    // Warnings (damage worked around, a disk only read) are said unless a
    // command has nothing to say of them: a search says only what stopped
    // it from looking.
    void ShowWarnings(bool shown) { m_bWarningsShown = shown; }

private:
    CDiskLibrary m_Library;
    std::unique_ptr<CDiskImage> m_pImage;
    std::unique_ptr<CDiskImage::Transaction> m_pChange;
    std::optional<Notice> m_OpenError;
    bool m_bWarningsShown = true;
    Catalogue m_Rows;
};
