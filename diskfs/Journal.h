#pragma once
// Changes written in place through a rollback journal, for images too large
// to copy for every change (hard-disk images): the bytes a change will
// overwrite go first to a journal beside the image, which is synced; then
// the image is written in place and synced, and the journal removed. An
// image found with a journal is rolled back before it is read, so a change
// cut short at any instant leaves the old image or the new one.
//
// Journal file (IMAGE-journal), little-endian:
//   0  "Tarnlight journ1" (16 bytes)   16 the image's size (8)
//   24 record count (4)                28 FNV-1a hash of the records (4)
//   32 records: offset (8), length (4), the image's bytes there before
// A journal that does not check out was cut short while it was written,
// before the image was touched: it is removed, the image left alone. One
// that checks out but names another size of image, or bytes past its end,
// is not this image's: the image is refused, both left as they are.

#include <cstdint>
#include <string>
#include <vector>

struct Patch {
    std::uint64_t offset = 0;
    std::vector<std::uint8_t> bytes;
};

std::string JournalPath(const std::string& imagePath);

// Writes `patches` into the image open read-write at `fd` through a journal.
// False with the cause when the change could not be made: the image is then
// as it was (put back at once, or by the journal at the next open).
bool WriteThroughJournal(const std::string& imagePath, int fd, const std::vector<Patch>& patches,
                         std::string& cause);

enum class JournalRecovery { None, RolledBack, Discarded };
// Rolls back the change a journal beside the image records, if there is one
// (the caller holds the image's lock; `fd` is open read-write). False with
// the cause when a journal is there and cannot be played back or removed:
// the image must not be read then.
bool RecoverFromJournal(const std::string& imagePath, int fd, JournalRecovery& done,
                        std::string& cause);
