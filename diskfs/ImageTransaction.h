#pragma once
// One change of an image (see CDiskImage.h, "Saving"): held by the caller,
// begun when made, saved by Commit, rolled back when dropped without one.
// Included by CDiskImage.h, after the class it belongs to.

#include "CDiskImage.h"

class CDiskImage::Transaction {
public:
    // A change of the open image.
    explicit Transaction(CDiskImage& image);
    // Loads the image at `path` for a change: the file is locked and
    // copied first and only the copy is read through the library, once.
    Transaction(CDiskImage& image, const std::string& path);
    Transaction(Transaction&& other) noexcept;
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    Transaction& operator=(Transaction&&) = delete;
    ~Transaction();

    // Whether the change began (for a load: the image was loaded whole).
    bool Began() const { return m_bBegan; }
    // Saves what changed; false when the save failed (told). A change
    // that never began, or that joined another, has nothing to save.
    bool Commit();
    // Ends the change without saving: the image file stays as it was, and
    // the directory and map are read again when anything changed.
    void RollBack();

  private:
    // The change is under way and this object ends it.
    bool Owns() const;

    CDiskImage* m_pImage; // null once ended, or moved from
    bool m_bBegan = false;
    // False when the change joined another of the same image.
    bool m_bOutermost = false;
    // Which change of the image this is: one the image dropped (closed)
    // is not ended again.
    unsigned m_Serial = 0;
};

template <typename Operation> int CDiskImage::InChange(Operation&& operation) {
    Transaction change(*this);
    if (!change.Began())
        return 0;
    const int result = operation();
    // (A change the operation closed with the image is gone unsaved.)
    if (result && m_Change.active)
        m_Change.changed = true;
    return change.Commit() ? result : 0;
}

inline void CDiskImage::NoteBroken() {
    if (m_Change.active)
        m_Change.broken = true;
}
