#include "app/release_files.h"

#include <algorithm>
#include <cmath>
#include <sstream>

namespace lumo {

std::vector<uint32_t> scaleDown(const uint32_t* pixels, int width, int height, int stride,
                                int outWidth, int outHeight) {
    // Each output pixel covers sx x sy source pixels; weights along one axis
    // are the covered parts of the source pixels under it.
    const double sx = double(width) / outWidth, sy = double(height) / outHeight;
    std::vector<uint32_t> out(size_t(outWidth) * size_t(outHeight));
    for (int oy = 0; oy < outHeight; ++oy) {
        const double y0 = oy * sy, y1 = (oy + 1) * sy;
        for (int ox = 0; ox < outWidth; ++ox) {
            const double x0 = ox * sx, x1 = (ox + 1) * sx;
            double sum[3] = {0, 0, 0};
            for (int y = int(y0); y < std::min(height, int(std::ceil(y1))); ++y) {
                const double wy = std::min(y1, y + 1.0) - std::max(y0, double(y));
                for (int x = int(x0); x < std::min(width, int(std::ceil(x1))); ++x) {
                    const double w = wy * (std::min(x1, x + 1.0) - std::max(x0, double(x)));
                    const uint32_t p = pixels[size_t(y) * size_t(stride) + size_t(x)];
                    sum[0] += w * double((p >> 16) & 0xFF);
                    sum[1] += w * double((p >> 8) & 0xFF);
                    sum[2] += w * double(p & 0xFF);
                }
            }
            uint32_t pixel = 0;
            for (double channel : sum) {
                const long v = std::lround(channel / (sx * sy));
                pixel = (pixel << 8) | uint32_t(std::clamp(v, 0L, 255L));
            }
            out[size_t(oy) * size_t(outWidth) + size_t(ox)] = pixel;
        }
    }
    return out;
}

std::vector<uint32_t> squareIcon(const uint32_t* pixels, int width, int height, int stride,
                                 int size) {
    const int side = std::min(width, height);
    const uint32_t* square =
        pixels + size_t((height - side) / 2) * size_t(stride) + size_t((width - side) / 2);
    return scaleDown(square, side, side, stride, size, size);
}

namespace {

// Text as roff shows it literally: backslashes and minus signs escaped, and a
// line never starting with a control character.
std::string roff(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\\') {
            out += "\\e";
        } else if (c == '-') {
            out += "\\-";
        } else {
            out += c;
        }
    }
    if (!out.empty() && (out[0] == '.' || out[0] == '\'')) {
        out.insert(0, "\\&");
    }
    return out;
}

std::string trim(const std::string& text) {
    const size_t begin = text.find_first_not_of(' ');
    return begin == std::string::npos ? ""
                                      : text.substr(begin, text.find_last_not_of(' ') + 1 - begin);
}

} // namespace

std::string manualPage(const std::string& usage, const std::string& version) {
    std::ostringstream page;
    page << ".TH LUMO 6 \"\" \"lumo " << version << "\" \"Games\"\n"
         << ".SH NAME\nlumo \\- a real-time software-rendered demo\n"
         << ".SH SYNOPSIS\n.B lumo\n[\\fIoptions\\fR]\n";
    // The text is paragraphs, the options among them: lines starting with
    // "  -" begin an option, more-indented lines go on with what it does.
    std::istringstream in(usage);
    std::string line;
    bool inOptions = false, startParagraph = true, described = false;
    while (std::getline(in, line)) {
        if (line.rfind("usage:", 0) == 0) {
            continue;
        }
        if (trim(line).empty()) {
            startParagraph = true;
            continue;
        }
        if (line.rfind("  -", 0) == 0) {
            if (!inOptions) {
                page << ".SH OPTIONS\n";
                inOptions = true;
            }
            // The option's form, then (after two spaces or more) what it does.
            size_t gap = line.find("  ", 2);
            page << ".TP\n.B " << roff(trim(line.substr(0, gap))) << "\n";
            if (gap != std::string::npos && !trim(line.substr(gap)).empty()) {
                page << roff(trim(line.substr(gap))) << "\n";
            }
            startParagraph = false;
            continue;
        }
        if (inOptions && line.rfind("    ", 0) == 0 && !startParagraph) {
            page << roff(trim(line)) << "\n";
            continue;
        }
        if (inOptions) {
            inOptions = false;
            page << ".SH NOTES\n";
        } else if (startParagraph) {
            page << (described ? ".PP\n" : ".SH DESCRIPTION\n");
        }
        described = true;
        startParagraph = false;
        page << roff(trim(line)) << "\n";
    }
    return page.str();
}

} // namespace lumo
