#include "tools/datagen/timeline.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace lumo::datagen {

const std::vector<std::string>& trackNames() {
    static const std::vector<std::string> names{
        "scene",     "scenetime", "expos",   "blur", "cam_a", "cam_b", "cam_t",
        "speed",     "x",         "y",       "z",    "t1_y",  "t2_y",  "greet",
        "greet_pos", "octoscale", "tilyrot", "ec",   "ea"};
    return names;
}

namespace {

bool parseInt(const std::string& s, long& v) {
    if (s.empty()) {
        return false;
    }
    char* end = nullptr;
    v = std::strtol(s.c_str(), &end, 10);
    return *end == '\0';
}

bool parseNumber(const std::string& s, double& v) {
    if (s.empty()) {
        return false;
    }
    char* end = nullptr;
    v = std::strtod(s.c_str(), &end);
    return *end == '\0' && std::isfinite(v);
}

bool parseInterp(const std::string& s, KeyInterp& interp) {
    using enum KeyInterp;
    static const std::pair<const char*, KeyInterp> names[] = {
        {"hold", Hold}, {"linear", Linear}, {"smooth", Smoothstep}, {"quad", Quadratic},
        {"0", Hold},    {"1", Linear},      {"2", Smoothstep},      {"3", Quadratic}};
    for (const auto& [name, value] : names) {
        if (s == name) {
            interp = value;
            return true;
        }
    }
    return false;
}

} // namespace

bool parsePosition(const std::string& word, int& row) {
    size_t colon = word.find(':');
    if (colon == std::string::npos) {
        long r;
        if (!parseInt(word, r) || r < 0 || r > 1000000) {
            return false;
        }
        row = int(r);
        return true;
    }
    std::string barText = word.substr(0, colon), rest = word.substr(colon + 1);
    std::string beatText = rest, extraText;
    size_t plus = rest.find('+');
    if (plus != std::string::npos) {
        beatText = rest.substr(0, plus);
        extraText = rest.substr(plus + 1);
    }
    long bar, extra = 0;
    double beat;
    if (!parseInt(barText, bar) || !parseNumber(beatText, beat) || bar < 0 || bar > 10000 ||
        beat < 0 || beat > 1000) {
        return false;
    }
    if (plus != std::string::npos && (!parseInt(extraText, extra) || extra < 0 || extra > 100000)) {
        return false;
    }
    double beatRows = beat * kRowsPerBeat;
    if (beatRows != std::floor(beatRows)) {
        return false; // a fraction of a beat that falls between rows
    }
    row = int(bar * kRowsPerBar + long(beatRows) + extra);
    return true;
}

bool parseTimeline(const std::string& text, const std::string& fileName, Timeline& out,
                   std::string& error) {
    out = Timeline{};
    for (const std::string& n : trackNames()) {
        out.tracks[n];
    }
    // Row -> (key, line) per track, so that duplicates can name both lines.
    std::map<std::string, std::map<int, std::pair<TrackKey, int>>> keys;
    // A camera move reaches its key b on the row before TO, so that a move
    // starting at TO (with its cam_t at 0) follows on without a conflict. That
    // closing key gives way to any other key on its row; its line number is
    // stored negative to mark it.
    std::istringstream in(text);
    std::string line;
    int lineNo = 0;
    auto fail = [&](const std::string& msg) {
        error = fileName + ":" + std::to_string(lineNo) + ": " + msg;
        return false;
    };
    auto addKey = [&](const std::string& track, int row, double value, KeyInterp interp,
                      bool soft = false) {
        if (!out.tracks.count(track)) {
            return fail("unknown track \"" + track + "\"");
        }
        int tag = soft ? -lineNo : lineNo;
        auto [it, inserted] = keys[track].emplace(row, std::make_pair(TrackKey{}, tag));
        if (!inserted && soft) {
            return true;
        }
        if (!inserted && it->second.second < 0) {
            it->second.second = tag;
            inserted = true;
        }
        if (!inserted) {
            return fail("track \"" + track + "\" has a key at row " + std::to_string(row) +
                        " already (line " + std::to_string(it->second.second) + ")");
        }
        it->second.first = TrackKey{row, float(value), interp};
        out.lastRow = std::max(out.lastRow, row);
        return true;
    };
    while (std::getline(in, line)) {
        ++lineNo;
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        size_t hash = line.find('#');
        if (hash != std::string::npos) {
            line.resize(hash);
        }
        std::istringstream words(line);
        std::vector<std::string> w;
        for (std::string s; words >> s;) {
            w.push_back(s);
        }
        if (w.empty()) {
            continue;
        }
        if (w[0] == "cam") {
            // cam FROM TO KEY_A KEY_B INTERP: the camera moves from key a to key b.
            int from, to;
            long a, b;
            KeyInterp interp;
            if (w.size() != 6) {
                return fail("cam needs: cam FROM TO KEY_A KEY_B INTERPOLATION");
            }
            if (!parsePosition(w[1], from) || !parsePosition(w[2], to) || to <= from + 1) {
                return fail(
                    "cam needs two positions, the second at least two rows after the first");
            }
            if (!parseInt(w[3], a) || !parseInt(w[4], b) || a < 0 || a > 22 || b < 0 || b > 22) {
                return fail("camera keys are numbers from 0 to 22");
            }
            if (!parseInterp(w[5], interp)) {
                return fail("unknown interpolation \"" + w[5] + "\"");
            }
            if (!addKey("cam_a", from, double(a), KeyInterp::Hold) ||
                !addKey("cam_b", from, double(b), KeyInterp::Hold) ||
                !addKey("cam_t", from, 0.0, interp) ||
                !addKey("cam_t", to - 1, 1.0, KeyInterp::Hold, true)) {
                return false;
            }
            continue;
        }
        if (w.size() != 4) {
            return fail("expected: TRACK POSITION VALUE INTERPOLATION");
        }
        int row;
        double value;
        KeyInterp interp;
        if (!parsePosition(w[1], row)) {
            return fail("bad position \"" + w[1] + "\" (BAR:BEAT, BAR:BEAT+ROWS or a row)");
        }
        // Keys are stored as float: a value beyond its range would become infinite.
        if (!parseNumber(w[2], value) || std::fabs(value) > FLT_MAX) {
            return fail("bad value \"" + w[2] + "\"");
        }
        if (!parseInterp(w[3], interp)) {
            return fail("unknown interpolation \"" + w[3] + "\" (hold, linear, smooth, quad)");
        }
        if (!addKey(w[0], row, value, interp)) {
            return false;
        }
    }
    for (auto& [track, rows] : keys) {
        for (auto& [row, entry] : rows) {
            out.tracks[track].push_back(entry.first);
        }
    }
    return true;
}

bool writeTracks(const std::string& dataDir, const Timeline& timeline) {
    bool ok = true;
    for (const std::string& name : trackNames()) {
        std::string path = dataDir + "/sync_" + name + ".track";
        if (!writeTrackFile(path, timeline.tracks.at(name))) {
            std::fprintf(stderr, "datagen: cannot write %s\n", path.c_str());
            ok = false;
        }
    }
    return ok;
}

} // namespace lumo::datagen
