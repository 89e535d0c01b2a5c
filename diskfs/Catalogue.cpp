// The file catalogue: one row per file (user number, name and type), in the
// directory order of each file's first entry, sized at 128 bytes per record
// with the logical extents each entry holds counted in (CCpmVolume::List).

#include "CDiskImage.h"
#include "CatalogueView.h"

int CDiskImage::ReadCatalogue(Catalogue& rows) {
    // The buffer holds what the disk holds from the load on: every change
    // is made there and written back, or undone. Another program's save
    // since then is taken up.
    if (ChangedOnDisk())
        LoadImage(m_strImagePath);
    else if (IsMapped() && !m_Volume.IsCurrent())
        RereadDirectory();
    // An image that did not open lists nothing, whatever was open before.
    if (!IsMapped()) {
        ClearCatalogue(rows);
        return 1;
    }
    m_Volume.List(rows);
    return 1;
}
