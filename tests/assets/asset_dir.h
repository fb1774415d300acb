#pragma once
// A fresh directory per test for the file loaders (the directory string ends in "/" as they
// expect). PNG decode failures are counted instead of waiting for input and exiting.

#include "assets/texture.h"
#include "sys/log.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace lumo::test {

inline int decodeFailures = 0;

class AssetDir : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = std::filesystem::temp_directory_path() /
                ("lumo_assets_" + std::to_string(std::random_device()()));
        std::filesystem::create_directories(root_);
        dir_ = root_.string() + "/";
        decodeFailures = 0;
        previous_ = setDecodeFailureHandler([] { ++decodeFailures; });
    }
    void TearDown() override {
        setDecodeFailureHandler(previous_);
        std::filesystem::remove_all(root_);
    }

    void write(const std::string& name, const std::string& bytes) {
        std::ofstream(root_ / name, std::ios::binary) << bytes;
    }
    // The console lines f logs.
    template <class F>
    static std::string printed(F f) {
        LogCapture log;
        f();
        return log.text();
    }

    std::filesystem::path root_;
    std::string dir_;
    TextureStore textures_;
    DecodeFailureHandler previous_ = nullptr;
};

} // namespace lumo::test
