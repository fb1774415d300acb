// lumo_release_files DATA_DIR OUT_DIR VERSION: the build's maker of what an
// install carries besides the program and its data: OUT_DIR/lumo.6, the
// manual page, and OUT_DIR/icons/SIZExSIZE/lumo.png, icons drawn from a frame
// of the demo.
// lumo_release_files --strip DATA_DIR OUT.png: the README's picture, one frame
// from the middle of each scene in the order they play, side by side.
// lumo_release_files --wide DATA_DIR OUT.png: the README's large picture, the
// title frame at 1920 x 1080.

#include "app/benchmark.h"
#include "app/headless.h"
#include "app/options.h"
#include "app/png_writer.h"
#include "app/release_files.h"
#include "app/timeline.h"
#include "audio/mp3.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace {

// The crystal column with its ring (scene 3): reads well even at 16 pixels.
constexpr double kIconSeconds = 60.0;
constexpr int kIconSizes[] = {16, 32, 48, 64, 128, 256};
// A strip frame: 640 x 360 scaled by 2/5.
constexpr int kStripWidth = 256, kStripHeight = 144;
// The title over the grid: the sharp overlays and the thin lines show what the
// screen's own resolution gives.
constexpr double kWideSeconds = 10.0;

bool silenceLoaders() {
    // The loaders' lines would only clutter the build's output.
    return std::freopen("/dev/null", "w", stdout) != nullptr;
}

int strip(const std::string& data, const std::string& out) {
    if (!silenceLoaders()) {
        return 1;
    }
    lumo::DecodedAudio music;
    lumo::CapturePlan plan;
    if (lumo::planOverMusic(data, 0.0, -1.0, 60, music, plan) != 0) {
        return 1;
    }
    lumo::HeadlessDemo demo(data, 0);
    if (!demo.session().trackSet) {
        std::fprintf(stderr, "lumo_release_files: no demo data in %s\n", data.c_str());
        return 1;
    }
    std::vector<double> positions;
    for (const auto& [scene, list] :
         lumo::benchPositions(demo.session().tracks.scene, plan.to, 1)) {
        positions.push_back(list.front());
    }
    std::sort(positions.begin(), positions.end());
    const int width = kStripWidth * int(positions.size());
    std::vector<uint32_t> picture(size_t(width) * kStripHeight);
    for (size_t i = 0; i < positions.size(); ++i) {
        demo.renderAt(positions[i]);
        std::vector<uint32_t> small = lumo::scaleDown(demo.pixels(), demo.width(), demo.height(),
                                                      demo.width(), kStripWidth, kStripHeight);
        for (int y = 0; y < kStripHeight; ++y) {
            std::copy_n(small.begin() + y * kStripWidth, kStripWidth,
                        picture.begin() + size_t(y) * width + i * kStripWidth);
        }
    }
    std::string error;
    if (positions.empty() ||
        !lumo::writeXrgbPng(out, picture.data(), width, kStripHeight, width, error, 9)) {
        std::fprintf(stderr, "lumo_release_files: cannot write %s: %s\n", out.c_str(),
                     positions.empty() ? "the timeline shows no scene" : error.c_str());
        return 1;
    }
    return 0;
}

int wide(const std::string& data, const std::string& out) {
    if (!silenceLoaders()) {
        return 1;
    }
    lumo::HeadlessDemo demo(data, 0, 1920, 1080);
    if (!demo.session().trackSet) {
        std::fprintf(stderr, "lumo_release_files: no demo data in %s\n", data.c_str());
        return 1;
    }
    demo.renderAt(kWideSeconds);
    std::string error;
    if (!lumo::writeXrgbPng(out, demo.pixels(), demo.width(), demo.height(), demo.width(), error,
                            9)) {
        std::fprintf(stderr, "lumo_release_files: cannot write %s: %s\n", out.c_str(),
                     error.c_str());
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "--strip") {
        return strip(std::string(argv[2]) + "/", argv[3]);
    }
    if (argc == 4 && std::string(argv[1]) == "--wide") {
        return wide(std::string(argv[2]) + "/", argv[3]);
    }
    if (argc != 4) {
        std::fprintf(stderr, "usage: lumo_release_files DATA_DIR OUT_DIR VERSION\n"
                             "       lumo_release_files --strip DATA_DIR OUT.png\n"
                             "       lumo_release_files --wide DATA_DIR OUT.png\n");
        return 2;
    }
    const std::string data = std::string(argv[1]) + "/";
    const std::filesystem::path out = argv[2];
    std::error_code ec;
    std::filesystem::create_directories(out, ec);

    std::ofstream manual(out / "lumo.6", std::ios::binary);
    manual << lumo::manualPage(lumo::usageText(), argv[3]);
    if (!manual.flush()) {
        std::fprintf(stderr, "lumo_release_files: cannot write %s\n", (out / "lumo.6").c_str());
        return 1;
    }

    if (!silenceLoaders()) {
        return 1;
    }
    lumo::HeadlessDemo demo(data, 0);
    if (!demo.session().trackSet) {
        std::fprintf(stderr, "lumo_release_files: no demo data in %s\n", data.c_str());
        return 1;
    }
    demo.renderAt(kIconSeconds);
    for (int size : kIconSizes) {
        const std::string name = std::to_string(size) + "x" + std::to_string(size);
        std::filesystem::create_directories(out / "icons" / name, ec);
        const std::string path = (out / "icons" / name / "lumo.png").string();
        std::vector<uint32_t> icon =
            lumo::squareIcon(demo.pixels(), demo.width(), demo.height(), demo.width(), size);
        std::string error;
        if (!lumo::writeXrgbPng(path, icon.data(), size, size, size, error, 9)) {
            std::fprintf(stderr, "lumo_release_files: cannot write %s: %s\n", path.c_str(),
                         error.c_str());
            return 1;
        }
    }
    return 0;
}
