// lumo_release_files DATA_DIR OUT_DIR VERSION: the build's maker of what an
// install carries besides the program and its data: OUT_DIR/lumo.6, the
// manual page, and OUT_DIR/icons/SIZExSIZE/lumo.png, icons drawn from a frame
// of the demo.

#include "app/headless.h"
#include "app/options.h"
#include "app/png_writer.h"
#include "app/release_files.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

// The crystal column with its ring (scene 3): reads well even at 16 pixels.
constexpr double kIconSeconds = 60.0;
constexpr int kIconSizes[] = {16, 32, 48, 64, 128, 256};

} // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: lumo_release_files DATA_DIR OUT_DIR VERSION\n");
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

    // The loaders' lines would only clutter the build's output.
    if (!std::freopen("/dev/null", "w", stdout)) {
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
