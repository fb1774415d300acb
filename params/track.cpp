#include "params/track.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>

namespace lumo {

namespace {

constexpr size_t maxPathLength = 259;
constexpr size_t keyBytes = 9;

int32_t readInt32(const unsigned char* p) {
    uint32_t v = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
    return int32_t(v);
}

void writeInt32(unsigned char* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

} // namespace

int SyncTrack::load(const std::string& base) {
    std::string path = base.substr(0, maxPathLength);
    path += "_" + name + ".track";
    path.resize(std::min(path.size(), maxPathLength));

    keys.clear();
    keyCount = 0;
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        return -1;
    }
    std::vector<unsigned char> bytes;
    unsigned char chunk[4096];
    for (;;) {
        size_t got = std::fread(chunk, 1, sizeof chunk, file);
        bytes.insert(bytes.end(), chunk, chunk + got);
        if (got < sizeof chunk) {
            break;
        }
    }
    std::fclose(file);
    parse(bytes.data(), bytes.size());
    return 0;
}

void SyncTrack::parse(const unsigned char* data, size_t size) {
    keys.clear();
    keyCount = 0;
    if (size < 4) {
        return;
    }
    // The count is trusted only as far as the bytes can back it: a short file
    // keeps the keys it holds completely, and a huge count in a small file never
    // allocates more than the file could hold.
    int64_t count = readInt32(data);
    int64_t fits = int64_t((size - 4) / keyBytes);
    count = std::min(count, fits);
    if (count <= 0) {
        return;
    }
    keys.reserve(size_t(count));
    for (int64_t i = 0; i < count; ++i) {
        const unsigned char* raw = data + 4 + size_t(i) * keyBytes;
        TrackKey key;
        key.row = readInt32(raw);
        uint32_t bits = uint32_t(readInt32(raw + 4));
        std::memcpy(&key.value, &bits, 4);
        key.interp = KeyInterp(int8_t(raw[8]));
        keys.push_back(key);
    }
    keyCount = int32_t(keys.size());
}

int SyncTrack::keyIndexAtOrBefore(int32_t r) const {
    int lo = 0;
    int hi = keyCount;
    while (lo < hi) {
        int mid = (lo + hi) / 2;
        if (keys[mid].row < r) {
            lo = mid + 1;
        } else if (keys[mid].row > r) {
            hi = mid;
        } else {
            return mid;
        }
    }
    return lo - 1;
}

float SyncTrack::valueAt(double x) const {
    if (keyCount <= 0) {
        return 0.0f;
    }
    // Rows outside the int range (or NaN) clamp to the ends instead of
    // converting with undefined behaviour.
    double floored = std::floor(x);
    int32_t r;
    if (floored >= 2147483647.0) {
        r = std::numeric_limits<int32_t>::max();
    } else if (floored >= -2147483648.0) {
        r = int32_t(floored);
    } else {
        r = std::numeric_limits<int32_t>::min();
    }
    int i = keyIndexAtOrBefore(r);
    if (i < 0) {
        return keys[0].value;
    }
    if (i > keyCount - 2) {
        return keys[keyCount - 1].value;
    }
    const TrackKey& k = keys[i];
    const TrackKey& n = keys[i + 1];
    int64_t span = int64_t(n.row) - int64_t(k.row);
    if (span <= 0) {
        // Keys out of order or on one row: there is no segment to blend over.
        return k.value;
    }
    double t = (x - k.row) / double(span);
    float d = n.value - k.value;
    switch (k.interp) {
    case KeyInterp::Hold:
        return k.value;
    case KeyInterp::Linear:
        return float(k.value + d * t);
    case KeyInterp::Smoothstep:
        return float(k.value + d * (t * t * (3.0 - 2.0 * t)));
    case KeyInterp::Quadratic:
        return float(k.value + d * std::pow(t, 2.0));
    default:
        return 0.0f;
    }
}

SyncTrackSet* SyncTrackSet::create() {
    return create("data/sync");
}

SyncTrackSet* SyncTrackSet::create(const std::string& base) {
    SyncTrackSet* set = new (std::nothrow) SyncTrackSet;
    if (set) {
        set->base = base;
    }
    return set;
}

SyncTrackSet::~SyncTrackSet() {
    for (SyncTrack* track : tracks) {
        delete track;
    }
}

void SyncTrackSet::destroy() {
    delete this;
}

SyncTrack* SyncTrackSet::getTrack(const std::string& name) {
    for (SyncTrack* track : tracks) {
        if (track->name == name) {
            return track;
        }
    }
    SyncTrack* track = new SyncTrack(name);
    tracks.push_back(track);
    trackCount = int32_t(tracks.size());
    track->load(base);
    return track;
}

bool writeTrackFile(const std::string& path, const std::vector<TrackKey>& keys) {
    std::vector<unsigned char> bytes(4 + keys.size() * keyBytes);
    writeInt32(bytes.data(), uint32_t(keys.size()));
    for (size_t i = 0; i < keys.size(); ++i) {
        unsigned char* p = bytes.data() + 4 + i * keyBytes;
        uint32_t bits;
        std::memcpy(&bits, &keys[i].value, 4);
        writeInt32(p, uint32_t(keys[i].row));
        writeInt32(p + 4, bits);
        p[8] = uint8_t(keys[i].interp);
    }
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) {
        return false;
    }
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    ok = std::fclose(file) == 0 && ok;
    if (!ok) {
        std::remove(path.c_str());
    }
    return ok;
}

} // namespace lumo
