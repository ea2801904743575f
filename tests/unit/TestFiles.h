// Files for the media tests: the ffmpeg-made material, the known-answer recordings, and a
// folder of this process's own for what the tests write (other build trees run the same tests
// at the same time, and shared names would let one run delete another's files).
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "media/TivoKeys.h"

namespace korvane::test {

using Bytes = std::vector<uint8_t>;

inline const std::string kMak = "0123456789";

inline std::string Material(const std::string& name) {
    const char* dir = std::getenv("KORVANE_MATERIAL");
    return std::string(dir ? dir : "material") + "/" + name;
}

inline std::string Vector(const std::string& name) {
    return std::string(KORVANE_VECTORS_DIR) + "/" + name;
}

inline std::string Temp(const std::string& name) {
    struct Folder {
        std::string path;
        Folder() {
            std::string pattern = ::testing::TempDir() + "korvane_media_XXXXXX";
            if (mkdtemp(&pattern[0])) path = pattern;
        }
        ~Folder() {
            std::error_code ignored;
            if (!path.empty()) std::filesystem::remove_all(path, ignored);
        }
    };
    static const Folder folder;
    if (folder.path.empty()) ADD_FAILURE() << "no temporary folder could be made";
    return folder.path + "/" + name;
}

inline std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// Keys from a fixed license, for streams scrambled by the tests themselves and for the
// composition vectors of an independent implementation.
inline media::TivoKeys TestKeys() {
    static const std::string license =
        "<?xml version=\"1.0\" encoding=\"utf-8\"?><license "
        "xmlns=\"http://www.tivo.com/developer/xml/license-1.0\">"
        "<salt>00112233445566778899aabbccddeeff</salt></license>";
    media::TivoKeys keys;
    EXPECT_TRUE(
        media::DeriveTivoKeys(kMak, reinterpret_cast<const uint8_t*>(license.data()), license.size(), &keys));
    return keys;
}

}  // namespace korvane::test
