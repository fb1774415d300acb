// libFuzzer target for the timeline text parser: any text is either refused
// with a message naming its line, or gives every track's keys in strictly
// increasing rows with known interpolation types and finite values.

#include "sys/log.h"
#include "tools/datagen/timeline.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    lumo::LogCapture quiet(false);
    const std::string text(reinterpret_cast<const char*>(data), size);
    lumo::datagen::Timeline timeline;
    std::string error;
    if (!lumo::datagen::parseTimeline(text, "fuzz", timeline, error)) {
        if (error.rfind("fuzz:", 0) != 0) {
            std::abort();
        }
        return 0;
    }
    if (timeline.tracks.size() != lumo::datagen::trackNames().size()) {
        std::abort();
    }
    int lastRow = 0;
    for (const auto& [name, keys] : timeline.tracks) {
        for (size_t i = 0; i < keys.size(); ++i) {
            const int32_t type = int32_t(keys[i].interp);
            if ((i > 0 && keys[i].row <= keys[i - 1].row) || keys[i].row < 0 || type < 0 ||
                type > 3 || !std::isfinite(keys[i].value)) {
                std::abort();
            }
            lastRow = std::max(lastRow, int(keys[i].row));
        }
    }
    if (lastRow != timeline.lastRow) {
        std::abort();
    }
    return 0;
}
