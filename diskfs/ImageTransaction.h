#pragma once
// One change of an image (see CDiskImage.h, "Saving"). Included by
// CDiskImage.h, after the class it belongs to.

#include "CDiskImage.h"

class CDiskImage::Transaction {
public:
    // A change of the open image.
    explicit Transaction(CDiskImage& image);
    // Loads the image at `path` for a change: the file is locked and
    // copied first and only the copy is read through the library, once.
    Transaction(CDiskImage& image, const std::string& path);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    // Whether the change began (for a load: the image was loaded whole).
    bool Began() const { return m_bBegan; }
    // Saves what changed; false when the save failed (shown). A change
    // that never began has nothing to save.
    bool Commit();

private:
    friend class CDiskImage;
    bool Begin();
    bool LoadAndBegin(const std::string& path);
    // Registers the change with its image once it began.
    bool Started();
    // Ends the change without saving: the working copy dropped, and the
    // directory and map read again from the file when anything changed.
    void RollBack();
    bool Save();
    // Starts the working copy: the image file copied into a new file in
    // its folder, opened through the library, receives the writes.
    bool OpenWorkingCopy();
    // Drops the working copy and turns back to the image file.
    void DiscardWork();
    // The change no longer belongs to its image.
    void Detach();
    // Ends the change with nothing saved: detached, the working copy
    // dropped, the file unlocked.
    void Drop();

    CDiskImage& m_Image;
    // Inside another change of the same image, which saves.
    bool m_bJoined = false;
    bool m_bBegan = false;
    bool m_bEnded = false;
    // An operation of the change succeeded: there is something to save.
    bool m_bChanged = false;
    // A failed write could not be undone in the working copy: it must
    // not be saved.
    bool m_bBroken = false;
    // The device's handle is on the working copy, and this is the one
    // on the image file itself (null when none was open).
    bool m_bWorking = false;
    DSK_PDRIVER m_FileHandle = nullptr;
};

template <typename Operation> int CDiskImage::InChange(Operation&& operation) {
    Transaction change(*this);
    if (!change.Began())
        return 0;
    const int result = operation();
    // (A change the operation closed with the image is gone unsaved.)
    if (result && m_pChange != nullptr)
        m_pChange->m_bChanged = true;
    return change.Commit() ? result : 0;
}

inline void CDiskImage::NoteBroken() {
    if (m_pChange != nullptr)
        m_pChange->m_bBroken = true;
}
