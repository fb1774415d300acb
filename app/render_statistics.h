#pragma once
// The renderer's statistics as the console shows them with show_statistics:
// how full each fixed pool has been, what did not fit, and the shadow bins.

#include "render/renderer.h"

#include <string>

namespace lumo {

std::string renderStatisticsText(const FrameStats& stats);

} // namespace lumo
