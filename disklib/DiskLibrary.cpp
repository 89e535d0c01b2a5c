#include "DiskLibrary.h"

#include "DskContainer.h"
#include "ForeignImage.h"

#include <cerrno>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <string>
#include <string_view>
#include <sys/mman.h>
#include <unistd.h>

namespace {

// LibDsk's own open entry, behind the identification and the container check.
DiskLibraryTable::OpenFn g_LibraryOpen = nullptr;
ForeignReader g_Reader;

// Up to the largest image there is.
std::vector<std::uint8_t> ReadWhole(int fd) {
    std::vector<std::uint8_t> bytes;
    std::uint8_t buffer[65536];
    for (ssize_t got; (got = ::read(fd, buffer, sizeof buffer)) > 0 &&
                      bytes.size() <= static_cast<std::size_t>(kMaxImageSize);)
        bytes.insert(bytes.end(), buffer, buffer + got);
    return bytes;
}

// The disk of a file LibDsk reads in a child, from the extended container
// the child hands back (read here as untrusted bytes).
std::optional<SectorImage> SectorsFromChild(const std::string& path, const ForeignKind& kind,
                                            const DiskShape& shape, std::string& cause) {
    const int fd = CopyForeignImage(path, kind, g_Reader, cause, shape);
    if (fd < 0)
        return std::nullopt;
    const std::vector<std::uint8_t> bytes = ReadWhole(fd);
    ::close(fd);
    auto disk = ReadCpcemuImage(bytes);
    if (!disk)
        cause = std::string("damaged container (the ") + kind.name + " reader failed)";
    return disk;
}

// Opens an extended container made in memory (descriptor `fd`, closed
// here) once it passes the checks any file does; `refusal` says why not.
dsk_err_t OpenMadeCopy(DSK_PDRIVER* self, int fd, OpenFacts& facts, const std::string& refusal) {
    const std::string copy = "/proc/self/fd/" + std::to_string(fd);
    const ImageKind made = IdentifyImageFile(copy);
    if (made.verdict != ImageKind::Verdict::Image || made.foreign != nullptr ||
        !ContainerDamage(copy, &facts.tracks, nullptr, !facts.geometryNamed).empty()) {
        ::close(fd);
        facts.tracks.clear();
        facts.refusal = refusal;
        return DSK_ERR_CORRUPT;
    }
    facts.cylinders = made.cylinders;
    facts.heads = made.heads;
    // LibDsk keeps its own descriptor of the copy.
    const dsk_err_t err = g_LibraryOpen(self, copy.c_str(), "edsk", nullptr);
    ::close(fd);
    return err;
}

// A container LibDsk is not trusted to parse here: read in a child, then
// opened as the extended container the child made, checked like any other.
dsk_err_t OpenForeign(DSK_PDRIVER* self, const char* path, const ForeignKind& foreign,
                      OpenFacts& facts) {
    const int fd = CopyForeignImage(path, foreign, g_Reader, facts.refusal);
    if (fd < 0)
        return DSK_ERR_CORRUPT;
    const dsk_err_t err = OpenMadeCopy(
        self, fd, facts, std::string("damaged container (the ") + foreign.name + " reader failed)");
    if (err != DSK_ERR_OK)
        return err;
    facts.foreign = foreign.name;
    facts.container = foreign.name;
    // The tracks the format has past the last one the file holds (an image
    // cut at a bad track): read, never written back.
    std::vector<unsigned> missing;
    for (auto t = static_cast<unsigned>(facts.tracks.size());
         t > 0 && facts.tracks[t - 1].count == 0; --t)
        missing.insert(missing.begin(), t - 1);
    const auto promised = static_cast<unsigned>(facts.tracks.size());
    if (!missing.empty())
        facts.readOnlyCause =
            CutShortText(promised, promised - static_cast<unsigned>(missing.size())) + " (" +
            MissingTracksText(missing) + ")";
    return err;
}

// A CPCEMU container LibDsk cannot read as it stands (see ContainerRepair),
// opened as an extended copy made whole in memory, whose missing tracks are
// unformatted; never written back.
dsk_err_t OpenRepaired(DSK_PDRIVER* self, const char* path, OpenFacts& facts) {
    const int input = ::open(path, O_RDONLY | O_CLOEXEC);
    std::vector<std::uint8_t> bytes;
    if (input >= 0) {
        bytes = ReadWhole(input);
        ::close(input);
    }
    std::vector<unsigned> missing;
    const auto disk = ReadCpcemuImage(bytes, &missing);
    const std::vector<std::uint8_t> whole =
        disk ? ExtendedImageBytes(*disk) : std::vector<std::uint8_t>{};
    const int fd = whole.empty() ? -1 : memfd_create("tarnlight-whole", MFD_CLOEXEC);
    const std::string cause = facts.refusal.empty() ? "damaged container" : facts.refusal;
    if (fd < 0 ||
        ::pwrite(fd, whole.data(), whole.size(), 0) != static_cast<ssize_t>(whole.size())) {
        if (fd >= 0)
            ::close(fd);
        facts.tracks.clear();
        facts.refusal = cause;
        return DSK_ERR_CORRUPT;
    }
    facts.refusal.clear();
    const dsk_err_t err = OpenMadeCopy(self, fd, facts, cause);
    if (err != DSK_ERR_OK)
        return err;
    facts.readOnlyCause = missing.empty() ? cause : cause + " (" + MissingTracksText(missing) + ")";
    facts.container =
        std::memcmp(bytes.data(), "MV - CPC", 8) == 0 ? "CPCEMU standard" : "CPCEMU extended";
    return err;
}

// Opens only files identified as one of the supported containers, with that
// container's driver: the caller's type is not used.
dsk_err_t OpenImage(DSK_PDRIVER* self, const char* path, OpenFacts* found) {
    OpenFacts& facts = *found;
    const bool probed = !facts.geometryNamed;
    facts = {};
    facts.geometryNamed = !probed;
    if (g_LibraryOpen == nullptr || path == nullptr)
        return DSK_ERR_NOTIMPL;
    const ImageKind kind = IdentifyImageFile(path);
    if (kind.verdict != ImageKind::Verdict::Image) {
        facts.refusal = kind.cause;
        return kind.verdict == ImageKind::Verdict::Unsupported ? DSK_ERR_BADFMT : DSK_ERR_SYSERR;
    }
    if (kind.foreign != nullptr)
        return OpenForeign(self, path, *kind.foreign, facts);
    ContainerRepair repair = ContainerRepair::None;
    facts.refusal = ContainerDamage(path, &facts.tracks, &repair, probed);
    if (repair != ContainerRepair::None)
        return OpenRepaired(self, path, facts);
    if (!facts.refusal.empty()) {
        facts.tracks.clear();
        return DSK_ERR_CORRUPT;
    }
    facts.cylinders = kind.cylinders;
    facts.heads = kind.heads;
    const std::string_view driver = kind.driver;
    facts.container = driver == "dsk"    ? "CPCEMU standard"
                      : driver == "edsk" ? "CPCEMU extended"
                                         : "raw sector dump";
    return g_LibraryOpen(self, path, kind.driver, nullptr);
}

dsk_err_t CheckedOpen(DSK_PDRIVER* self, const char* path, const char*, const char*) {
    OpenFacts facts;
    return OpenImage(self, path, &facts);
}

bool ForeignWritable(const char* container) {
    const ForeignKind* kind = ForeignKindNamed(container);
    return kind != nullptr && ForeignKindIsWritable(*kind);
}

// The changed disk read through its handle (on the extended copy, which this
// process reads itself), written as the container it came in by LibDsk in a
// child, and read back the same way to be compared.
bool SaveForeign(DSK_PDRIVER edited, const char* container, unsigned cylinders, unsigned heads,
                 int target, std::string* cause) {
    const ForeignKind* kind = ForeignKindNamed(container);
    if (kind == nullptr || !ForeignKindIsWritable(*kind)) {
        *cause = std::string(container) + " images cannot be written";
        return false;
    }
    SectorImage disk;
    if (!ReadDiskThrough(edited, g_Reader, {cylinders, heads}, disk)) {
        *cause = "the changed disk could not be read";
        return false;
    }
    if (!WriteImageInChild(disk, kind->driver, target, g_Reader, *cause))
        return false;
    const auto written =
        SectorsFromChild("/proc/self/fd/" + std::to_string(target), *kind, {}, *cause);
    if (!written)
        return false;
    const std::string difference = FirstDifference(disk, *written, true);
    if (!difference.empty()) {
        *cause = std::string("the ") + container + " image written differs: " + difference;
        return false;
    }
    return true;
}

// LibDsk reports its progress ("Checking compression: ...") on the
// terminal by default; those words are not this program's.
void IgnoreReport(const char*) {}
void IgnoreReportEnd() {}

template <typename Fn> void Resolve(void* module, const char* symbol, Fn& slot) {
    slot = reinterpret_cast<Fn>(dlsym(module, symbol));
}

} // namespace

CDiskLibrary::~CDiskLibrary() { Unload(); }

bool CDiskLibrary::Load(const std::vector<std::string>& names) {
    if (m_hModule != nullptr)
        return true;
    for (const std::string& name : names) {
        // Kept mapped after unloading, so that what LibDsk allocated can
        // still be traced to it (leak checkers name the library).
        m_hModule = dlopen(name.c_str(), RTLD_LAZY | RTLD_LOCAL | RTLD_NODELETE);
        if (m_hModule != nullptr)
            break;
    }
    if (m_hModule == nullptr)
        return false;
    using ReportSetFn = void (*)(DSK_REPORTFUNC, DSK_REPORTEND);
    ReportSetFn setReport = nullptr;
    Resolve(m_hModule, "dsk_reportfunc_set", setReport);
    if (setReport != nullptr)
        setReport(&IgnoreReport, &IgnoreReportEnd);
    Resolve(m_hModule, "dsk_open", g_LibraryOpen);
    if (g_LibraryOpen != nullptr) {
        m_Table.dsk_open = &CheckedOpen;
        m_Table.open_image = &OpenImage;
        m_Table.foreign_writable = &ForeignWritable;
        m_Table.save_foreign = &SaveForeign;
    }
    Resolve(m_hModule, "dsk_creat", m_Table.dsk_creat);
    Resolve(m_hModule, "dsk_close", m_Table.dsk_close);
    Resolve(m_hModule, "dsk_pread", m_Table.dsk_pread);
    Resolve(m_hModule, "dsk_pwrite", m_Table.dsk_pwrite);
    Resolve(m_hModule, "dsk_getgeom", m_Table.dsk_getgeom);
    Resolve(m_hModule, "dsk_apform", m_Table.dsk_apform);
    Resolve(m_hModule, "dg_stdformat", m_Table.dg_stdformat);
    Resolve(m_hModule, "dsk_strerror", m_Table.dsk_strerror);
    Resolve(m_hModule, "dsk_ptrackids", m_Table.dsk_ptrackids);
    ForeignReader::PFormatFn format = nullptr;
    Resolve(m_hModule, "dsk_pformat", format);
    g_Reader = {g_LibraryOpen,        m_Table.dsk_close, m_Table.dsk_getgeom,
                m_Table.dsk_ptrackids, m_Table.dsk_pread, m_Table.dsk_creat,
                format,               m_Table.dsk_pwrite};
    Resolve(m_hModule, "dsk_xread", g_Reader.xread);
    Resolve(m_hModule, "dsk_xwrite", g_Reader.xwrite);
    m_Table.dsk_xread = g_Reader.xread;
    m_Table.dsk_xwrite = g_Reader.xwrite;
    return true;
}

void CDiskLibrary::Unload() {
    if (m_hModule == nullptr)
        return;
    dlclose(m_hModule);
    m_hModule = nullptr;
    m_Table = DiskLibraryTable{};
    // g_LibraryOpen stays: the library is never unmapped (RTLD_NODELETE), and
    // another binding in the process may still be using it.
}

std::optional<SectorImage> ReadImageSectors(const std::string& path, std::string& container,
                                            std::string& cause) {
    const ImageKind kind = IdentifyImageFile(path);
    if (kind.verdict != ImageKind::Verdict::Image) {
        cause = kind.cause;
        return std::nullopt;
    }
    const std::string_view driver = kind.driver;
    if (driver == "dsk" || driver == "edsk") {
        container = driver == "dsk" ? "CPCEMU standard" : "CPCEMU extended";
        // (Read here, a container that ends in unformatted tracks is whole.)
        ContainerRepair repair = ContainerRepair::None;
        cause = ContainerDamage(path, nullptr, &repair);
        if (!cause.empty() && repair != ContainerRepair::EndsUnformatted)
            return std::nullopt;
        cause.clear();
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            cause = std::strerror(errno);
            return std::nullopt;
        }
        const std::vector<std::uint8_t> bytes = ReadWhole(fd);
        ::close(fd);
        auto disk = ReadCpcemuImage(bytes);
        if (!disk)
            cause = "damaged container";
        return disk;
    }
    static constexpr ForeignKind kRaw{"raw", "raw sector dump"};
    const ForeignKind& foreign = kind.foreign != nullptr ? *kind.foreign : kRaw;
    container = foreign.name;
    return SectorsFromChild(path, foreign, {kind.cylinders, kind.heads}, cause);
}

bool WriteImageWithLibrary(const SectorImage& disk, const char* driver, int fd, std::string& cause) {
    return WriteImageInChild(disk, driver, fd, g_Reader, cause);
}
