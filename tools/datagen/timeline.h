#pragma once
// The authored timeline (content/timeline.txt) compiled into the 19 track files.
// The format is described in content/README.md.

#include "params/track.h"

#include <map>
#include <string>
#include <vector>

namespace lumo::datagen {

constexpr int kRowsPerBeat = 8;
constexpr int kRowsPerBar = 32;

// The tracks the demo reads, in the order it asks for them.
const std::vector<std::string>& trackNames();

struct Timeline {
    std::map<std::string, std::vector<TrackKey>> tracks; // every name of trackNames()
    int lastRow = 0;                                     // the largest row of any key
};

// Parses timeline text. On error returns false with "file:line: message" in error.
bool parseTimeline(const std::string& text, const std::string& fileName, Timeline& out,
                   std::string& error);

// Parses a position: "BAR:BEAT", "BAR:BEAT+ROWS" (bars and beats count from 0,
// a beat may be fractional when it lands on a row) or a plain row number.
bool parsePosition(const std::string& word, int& row);

// Writes data/sync_<name>.track for every track (tracks without keys get a file
// with no keys, which evaluates to 0.0).
bool writeTracks(const std::string& dataDir, const Timeline& timeline);

} // namespace lumo::datagen
