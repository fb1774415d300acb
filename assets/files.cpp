#include "assets/files.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace lumo {

namespace {

char lowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

template <typename Bytes>
bool readInto(const std::string& path, Bytes& bytes) {
    bytes.clear();
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) {
        return false;
    }
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return false;
    }
    // Read in chunks rather than trusting the size: it can change under us, and
    // some regular files (in /proc) report 0.
    char chunk[65536];
    while (file) {
        file.read(chunk, sizeof(chunk));
        bytes.insert(bytes.end(), chunk, chunk + file.gcount());
    }
    if (file.bad()) {
        bytes.clear();
        return false;
    }
    return true;
}

} // namespace

bool endsWithIgnoringCase(std::string_view text, std::string_view suffix) {
    if (text.size() < suffix.size()) {
        return false;
    }
    std::string_view tail = text.substr(text.size() - suffix.size());
    for (size_t i = 0; i < suffix.size(); ++i) {
        if (lowerAscii(tail[i]) != lowerAscii(suffix[i])) {
            return false;
        }
    }
    return true;
}

std::vector<std::string> listFiles(const std::string& directory, std::string_view suffix) {
    namespace fs = std::filesystem;
    std::vector<std::string> names;
    std::error_code error;
    fs::directory_iterator it(directory.empty() ? fs::path(".") : fs::path(directory), error);
    if (error) {
        return names;
    }
    for (const fs::directory_entry& entry : it) {
        std::error_code typeError;
        if (!entry.is_regular_file(typeError)) {
            continue;
        }
        std::string name = entry.path().filename().string();
        if (endsWithIgnoringCase(name, suffix)) {
            names.push_back(std::move(name));
        }
    }
    // std::string compares as unsigned bytes: the order does not depend on the locale.
    std::sort(names.begin(), names.end());
    return names;
}

bool readWholeFile(const std::string& path, std::vector<uint8_t>& bytes) {
    return readInto(path, bytes);
}

bool readWholeFile(const std::string& path, std::string& text) {
    return readInto(path, text);
}

} // namespace lumo
