#include "FileList.h"

#include "CDiskImage.h"
#include "CatalogueView.h"

namespace {

// An owner of its own: the listing says only whether the image opened.
class QuietOwner : public IDiskOwner {
public:
    explicit QuietOwner(const DiskLibraryTable& table) : m_Table(table) {}
    const DiskLibraryTable& LibraryTable() const override { return m_Table; }

  private:
    const DiskLibraryTable& m_Table;
};

} // namespace

std::optional<std::vector<std::string>> FileListOf(const DiskLibraryTable& table,
                                                   const std::string& path) {
    QuietOwner owner(table);
    CDiskImage image(&owner);
    if (!image.LoadImage(path))
        return std::nullopt;
    Catalogue rows;
    ClearCatalogue(rows);
    image.ReadCatalogue(rows);
    std::vector<std::string> files;
    for (std::size_t i = 0; i < CatalogueLength(rows); ++i) {
        const FileEntry& row = rows[i];
        files.push_back(FileId::Of(row).Shown() + " " +
                        std::to_string(row.size) + (row.readOnly ? " r" : "") +
                        (row.system ? " s" : "") + (row.archive ? " a" : ""));
    }
    return files;
}

