// libFuzzer target for the timeline text parser: any text is either refused
// with a message naming its line, or gives every track's keys in strictly
// increasing rows with known interpolation types and finite values.

#include "fuzz/require.h"
#include "sys/log.h"
#include "tools/datagen/timeline.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>

using lumo::fuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    lumo::LogCapture quiet(false);
    const std::string text(reinterpret_cast<const char*>(data), size);
    lumo::datagen::Timeline timeline;
    std::string error;
    if (!lumo::datagen::parseTimeline(text, "fuzz", timeline, error)) {
        require(error.rfind("fuzz:", 0) == 0);
        return 0;
    }
    require(timeline.tracks.size() == lumo::datagen::trackNames().size());
    int lastRow = 0;
    for (const auto& [name, keys] : timeline.tracks) {
        for (size_t i = 0; i < keys.size(); ++i) {
            const int32_t type = int32_t(keys[i].interp);
            require((i == 0 || keys[i].row > keys[i - 1].row) && keys[i].row >= 0 && type >= 0 &&
                    type <= 3 && std::isfinite(keys[i].value));
            lastRow = std::max(lastRow, int(keys[i].row));
        }
    }
    require(lastRow == timeline.lastRow);
    return 0;
}
