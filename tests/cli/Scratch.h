// Files for the front-end tests: the known-answer recordings, this folder's metadata
// documents, and a scratch folder of this process's own (other build trees run the same
// tests at the same time).
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace korvane::test {

inline const std::string kMak = "0123456789";

inline std::string Vector(const std::string& name) {
    return std::string(KORVANE_VECTORS_DIR) + "/" + name;
}

inline std::string Data(const std::string& name) {
    return std::string(KORVANE_CLI_DATA_DIR) + "/" + name;
}

// A new empty folder under this process's scratch folder.
inline std::string NewFolder(const std::string& name) {
    struct Root {
        std::string path;
        Root() {
            std::string pattern = ::testing::TempDir() + "korvane_cli_XXXXXX";
            if (mkdtemp(&pattern[0])) path = pattern;
        }
        ~Root() {
            std::error_code ignored;
            if (!path.empty()) std::filesystem::remove_all(path, ignored);
        }
    };
    static const Root root;
    const std::string folder = root.path + "/" + name;
    std::filesystem::create_directories(folder);
    return folder;
}

inline std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline std::string ReadText(const std::string& path) {
    const std::vector<uint8_t> bytes = ReadFile(path);
    return std::string(bytes.begin(), bytes.end());
}

inline void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace korvane::test
