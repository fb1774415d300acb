#include "test_util.h"

#include <png.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace lumo::test {

bool writePng(const std::string& path, const uint32_t* pixels, int width, int height) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) {
        return false;
    }
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!png || !info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        std::fclose(file);
        return false;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    std::vector<uint8_t> row(size_t(width) * 3);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            uint32_t p = pixels[size_t(y) * width + x];
            row[x * 3] = uint8_t(p >> 16);
            row[x * 3 + 1] = uint8_t(p >> 8);
            row[x * 3 + 2] = uint8_t(p);
        }
        png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    std::fclose(file);
    return true;
}

CaptureStdout::CaptureStdout() {
    std::fflush(stdout);
    char name[] = "/tmp/lumo-render-stdout-XXXXXX";
    int fd = mkstemp(name);
    if (fd < 0) {
        return;
    }
    path_ = name;
    saved_ = dup(1);
    dup2(fd, 1);
    close(fd);
}

std::string CaptureStdout::text() {
    if (!done_ && saved_ >= 0) {
        std::fflush(stdout);
        dup2(saved_, 1);
        close(saved_);
        std::ifstream in(path_);
        std::stringstream ss;
        ss << in.rdbuf();
        text_ = ss.str();
        unlink(path_.c_str());
    }
    done_ = true;
    return text_;
}

CaptureStdout::~CaptureStdout() {
    text();
}

} // namespace lumo::test
