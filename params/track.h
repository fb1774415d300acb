#pragma once
// Timeline tracks: per track a sorted list of keys (row, value, interpolation),
// one small binary file each, evaluated every frame at a fractional row.
//
// File format, little-endian, no header: int32 key count N, then N keys of 9
// bytes each: int32 row, float32 value, one byte interpolation type (read back
// sign-extended, so bytes 128..255 become negative types).

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace lumo {

// How a key blends towards the next one. A file may hold any other byte; such a
// key's segment evaluates to 0.0, so the type keeps the full int32 range.
enum class KeyInterp : int32_t { Hold = 0, Linear = 1, Smoothstep = 2, Quadratic = 3 };

struct TrackKey {
    int32_t row = 0;
    float value = 0.0f;
    KeyInterp interp = KeyInterp::Hold;
};

class SyncTrack {
public:
    explicit SyncTrack(std::string name) : name(std::move(name)) {}

    // Reads base + "_" + name + ".track" (the path cut at 259 characters).
    // Returns 0, or -1 when the file cannot be opened; the track then keeps zero
    // keys. A file shorter than its count keeps the keys read completely.
    int load(const std::string& base);

    // Takes the keys from the bytes of a whole track file, by the same rules as
    // load (a cut or damaged file keeps the keys it holds completely).
    void parse(const unsigned char* data, size_t size);

    // Index of the key at row r, else of the last key below r; -1 before the
    // first key or when there are no keys.
    int keyIndexAtOrBefore(int32_t r) const;

    // The track's value at the fractional row x; 0.0 without keys.
    float valueAt(double x) const;

    std::string name;
    std::vector<TrackKey> keys;
    int32_t keyCount = 0;
};

class SyncTrackSet {
public:
    // A set with base "data/sync" and no tracks; null when memory cannot be had.
    static SyncTrackSet* create();
    static SyncTrackSet* create(const std::string& base);
    // Frees every track, then the set.
    void destroy();

    // The track of that name, loaded from its file the first time it is asked
    // for; the pointer stays valid until the set is destroyed.
    SyncTrack* getTrack(const std::string& name);

    std::string base;
    std::vector<SyncTrack*> tracks;
    int32_t trackCount = 0;

private:
    SyncTrackSet() = default;
    ~SyncTrackSet();
};

// Writes keys in the track file format. Returns false (and removes the partial
// file) when it cannot be written.
bool writeTrackFile(const std::string& path, const std::vector<TrackKey>& keys);

} // namespace lumo
