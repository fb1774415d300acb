#pragma once
// Text through FreeType with the DejaVu fonts: anti-aliased text pictures for
// the overlays, and glyph outlines flattened into polygons for extruded 3D text.

#include "tools/datagen/geometry.h"
#include "tools/datagen/image.h"

#include <string>
#include <vector>

namespace lumo::datagen {

std::string fontPath(const std::string& file); // DejaVu font file by name

struct TextLine {
    std::string text;
    int pixelHeight = 32;
    uint8_t r = 255, g = 255, b = 255;
};

// Renders lines centred in a picture with a soft dark halo so they read over any
// background. Straight alpha. The picture is (baseWidth x baseHeight) times scale,
// with the text, the line spacing and the halo all `scale` times their sizes in
// `lines` (the glyphs rendered at that size, not enlarged). Returns false (with a
// message) when the font cannot be loaded.
bool renderText(const std::string& font, const std::vector<TextLine>& lines, int baseWidth,
                int baseHeight, int scale, Image& out);

// Outlines of text laid out on one line: shapes in em units (1.0 = the font's
// em), baseline at y = 0, starting at x = 0. `width` receives the advance.
// Quadratic arcs become `curveSteps` segments; nearly straight corners are dropped.
bool textOutline(const std::string& font, const std::string& text, int curveSteps,
                 std::vector<Shape>& shapes, double& width);

} // namespace lumo::datagen
