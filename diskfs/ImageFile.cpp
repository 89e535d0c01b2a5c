#include "ImageFile.h"

#include <cerrno>
#include <unistd.h>

void CImageFile::Take(const std::string& path) {
    // A save replaces the file a link points to, never the link. The version
    // is taken before the file is read, so that any later change shows.
    m_strPath = ResolvedPath(path);
    m_bHostFile = true;
    m_Loaded = {};
    IdentityOfFile(m_strPath, m_Loaded);
}

void CImageFile::TakeName(const std::string& path) {
    m_strPath = path;
    m_bHostFile = false;
    m_Loaded = {};
}

bool CImageFile::Writable() const {
    if (!m_bHostFile || m_strPath.empty())
        return true;
    const std::string folder = m_strPath.substr(0, m_strPath.find_last_of('/') + 1);
    return access(m_strPath.c_str(), W_OK) == 0 &&
           access(folder.empty() ? "." : folder.c_str(), W_OK) == 0;
}

bool CImageFile::ChangedSinceLoaded() const {
    return m_bHostFile && !m_strPath.empty() && ChangedSince(m_strPath, m_Loaded);
}

bool CImageFile::Lock(const std::string& resolvedPath, std::string& cause) {
    return m_Lock.Acquire(resolvedPath, cause);
}

bool CImageFile::LockedVersion(FileIdentity& version) const {
    return m_Lock.Held() && IdentityOfDescriptor(m_Lock.Descriptor(), version);
}

bool CImageFile::StartCopy(const std::string& resolvedPath, std::string& cause) {
    if (!m_Lock.Held()) {
        cause = "the image file is not locked";
        return false;
    }
    if (!m_Copy.Create(resolvedPath, 0600, cause) ||
        !m_Copy.CopyFrom(m_Lock.Descriptor(), cause, &m_Original)) {
        m_Copy.Abandon();
        return false;
    }
    return true;
}

bool CImageFile::ReplaceWithCopy(std::string& cause) {
    m_Copy.TakeAttributesOf(m_Lock.Descriptor());
    FileIdentity saved;
    if (!IdentityOfDescriptor(m_Copy.Descriptor(), saved)) {
        cause = ErrnoText(errno);
        return false;
    }
    // Programs that do not lock (cpmtools, emulators) may have written the
    // file meanwhile, or put another in its place: what they saved is never
    // replaced.
    auto stillLoaded = [this] {
        FileIdentity now;
        return IdentityOfFile(m_strPath, now) && now == m_Loaded && FileHolds(m_strPath, m_Original);
    };
    if (!m_Copy.Finish(CPendingFile::Commit::Replace, cause, stillLoaded))
        return false;
    m_Loaded = saved;
    return true;
}
