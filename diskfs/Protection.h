#pragma once
// Copy protection named from what a CPCEMU container keeps of each track:
// the sectors' ids, sizes and controller status, and the texts the schemes
// leave in their sectors.

#include "DskContainer.h"

#include <optional>
#include <string>
#include <vector>

struct ProtectionFinding {
    std::string scheme;   // "Speedlock +3 1988", or "unknown"
    std::string evidence; // "track 0: 9 sectors, sectors 6 and 8 deleted data; track 1: 5 × 1024"
};

// The scheme the tracks (track t is cylinder t / heads, head t % heads) show,
// "unknown" for tracks of a format of their own that match none; nothing for
// a disk whose tracks are all alike and read without error.
std::optional<ProtectionFinding> NameProtection(const std::vector<TrackRecord>& tracks,
                                                unsigned heads);
