#include "Names.h"

#include "CatalogueView.h"
#include "Commands.h"

#include <cstdio>
#include <cstdlib>
#include <fnmatch.h>

std::string Printable(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (unsigned char c : text) {
        if (c < 0x20 || c == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string Thousands(std::size_t count) {
    std::string digits = std::to_string(count);
    for (std::size_t at = digits.size(); at > 3; at -= 3)
        digits.insert(at - 3, ",");
    return digits;
}

std::string UserAndName(const FileEntry& row) {
    return Printable(FileId::Of(row).Shown());
}

void Report(const std::string& subject, const std::string& reason) {
    std::fprintf(stderr, "ERROR: %s: %s\n", Printable(subject).c_str(), reason.c_str());
}

FilePattern ParsePattern(const std::string& text) {
    FilePattern pattern;
    pattern.glob = text;
    const auto colon = text.find(':');
    if (colon != std::string::npos) {
        const std::string user = text.substr(0, colon);
        char* end = nullptr;
        const long number = std::strtol(user.c_str(), &end, 10);
        if (user == "*") {
            pattern.glob = text.substr(colon + 1);
        } else if (!user.empty() && *end == 0 && number >= 0 && number <= kMaxLiveUser) {
            pattern.user = static_cast<int>(number);
            pattern.glob = text.substr(colon + 1);
        }
    }
    pattern.wild = pattern.glob.find_first_of("*?[") != std::string::npos;
    return pattern;
}

bool Matches(const FilePattern& pattern, const FileEntry& row) {
    if (pattern.user >= 0 && pattern.user != row.user)
        return false;
    const std::string shown = ShownFileName(row);
    if (fnmatch(pattern.glob.c_str(), shown.c_str(), FNM_CASEFOLD) == 0)
        return true;
    // A file with a blank type is also NAME. (as CP/M writes it), so that
    // "DISK." names it and "*.*" matches it.
    const bool blankType = TrimmedField(row.type, kTypeLen).empty();
    return blankType && fnmatch(pattern.glob.c_str(), (shown + ".").c_str(), FNM_CASEFOLD) == 0;
}

std::vector<FileEntry> SelectRows(const Catalogue& rows, const std::vector<std::string>& texts,
                                  int& status) {
    std::vector<FilePattern> patterns;
    for (const std::string& text : texts)
        patterns.push_back(ParsePattern(text));
    std::vector<FileEntry> selected;
    std::vector<std::vector<std::size_t>> hits(patterns.size());
    for (std::size_t i = 0; i < CatalogueLength(rows); ++i) {
        bool take = patterns.empty();
        for (std::size_t p = 0; p < patterns.size(); ++p) {
            if (Matches(patterns[p], rows[i])) {
                hits[p].push_back(i);
                take = true;
            }
        }
        if (take)
            selected.push_back(rows[i]);
    }
    bool refused = false;
    for (std::size_t p = 0; p < patterns.size(); ++p) {
        if (hits[p].empty()) {
            Report(texts[p], "no matching file");
            status = kExitFailed;
        } else if (!patterns[p].wild && hits[p].size() > 1) {
            std::string candidates;
            for (std::size_t i : hits[p])
                candidates += (candidates.empty() ? "" : ", ") + UserAndName(rows[i]);
            Report(texts[p], "names several files (" + candidates +
                                 "); nothing done: name one with USER:NAME");
            status = kExitFailed;
            refused = true;
        }
    }
    if (refused)
        selected.clear();
    return selected;
}
