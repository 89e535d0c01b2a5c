#include "CpmName.h"
#include "CatalogueView.h"

#include <algorithm>
#include <cstring>

namespace {

bool Addressable(unsigned char c) {
    return c > 0x20 && c < 0x7F && std::strchr("<>.,;:=?*[]|\"/\\", c) == nullptr;
}

} // namespace

std::string PathLeaf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool IsNameByte(std::uint8_t byte) { return (byte & 0x7F) >= 0x20; }

std::string HostNameForCpm(const std::string& leaf) {
    const auto dot = leaf.find_last_of('.');
    if (dot == std::string::npos || dot == 0)
        return leaf;
    std::string base = leaf.substr(0, dot);
    base.erase(std::remove(base.begin(), base.end(), '.'), base.end());
    return base + leaf.substr(dot);
}

bool HostNameIsCut(const std::string& leaf) {
    return HostNameForCpm(leaf) != leaf || NameIsCut(leaf);
}

namespace {

// Name before the last ".", type after it.
std::pair<std::string, std::string> SplitName(const std::string& text) {
    const auto dot = text.find_last_of('.');
    if (dot == std::string::npos)
        return {text, ""};
    return {text.substr(0, dot), text.substr(dot + 1)};
}

} // namespace

bool NameIsCut(const std::string& text) {
    const auto [base, ext] = SplitName(text);
    return base.size() > kNameLen || ext.size() > kTypeLen;
}

NameCheck ParseCpmName(const std::string& text, NameCase nameCase, FileId& out) {
    out.name.fill(' ');
    out.type.fill(' ');
    auto [base, ext] = SplitName(text);
    if (base.empty())
        return NameCheck::Empty;
    for (std::string* part : {&base, &ext})
        for (char& c : *part) {
            if (!Addressable(static_cast<unsigned char>(c)))
                return NameCheck::BadCharacter;
            if (nameCase == NameCase::Upper && c >= 'a' && c <= 'z')
                c = static_cast<char>(c - 'a' + 'A');
        }
    std::memcpy(out.name.data(), base.data(), std::min(base.size(), kNameLen));
    std::memcpy(out.type.data(), ext.data(), std::min(ext.size(), kTypeLen));
    return NameCheck::Valid;
}

std::string FileId::ShownName() const {
    const std::string shownType = TrimmedField(type.data(), kTypeLen);
    return TrimmedField(name.data(), kNameLen) + (shownType.empty() ? "" : "." + shownType);
}

NameCheck NameForStoring(const std::string& hostPath, const std::string& given, NameCase nameCase,
                         FileId& out) {
    if (!given.empty() && NameIsCut(given))
        return NameCheck::TooLong;
    return ParseCpmName(given.empty() ? HostNameForCpm(PathLeaf(hostPath)) : given, nameCase, out);
}
