// libFuzzer target for the track file reader: any bytes give only keys the input
// holds completely, and the track evaluates anywhere without a fault.

#include "fuzz/require.h"
#include "params/track.h"
#include "sys/log.h"

#include <cmath>
#include <cstdint>
#include <limits>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    lumo::LogCapture quiet(false);
    lumo::SyncTrack track("fuzz");
    track.parse(data, size);
    lumo::fuzz::require(size_t(track.keyCount) == track.keys.size() &&
                        (size >= 4 ? 4 + 9 * track.keys.size() <= size : track.keys.empty()));
    // On, between and just before every key, then the far ends and no row at all.
    for (const lumo::TrackKey& key : track.keys) {
        for (double offset : {-0.25, 0.0, 0.5}) {
            (void)track.valueAt(double(key.row) + offset);
        }
    }
    for (double row : {-1e300, 1e300, std::numeric_limits<double>::infinity(),
                       -std::numeric_limits<double>::infinity(), std::nan("")}) {
        (void)track.valueAt(row);
    }
    return 0;
}
