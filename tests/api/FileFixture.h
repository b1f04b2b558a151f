#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

// A fresh folder under the system's temporary directory, removed with
// everything in it at the end of the test.
class TempFolder {
public:
    TempFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "nilo-test-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        path = pattern;
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    std::string file(const std::string& name) const { return path + "/" + name; }

    std::string path;
};

// A file URL names the path without its first character, relative to the
// working directory; an extra slash keeps an absolute path absolute.
inline std::string FileUrl(const std::string& absolutePath) { return "file:///" + absolutePath; }

inline void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Bytes that differ from position to position and include every byte value.
inline std::string PatternBytes(size_t count) {
    std::string s(count, '\0');
    for (size_t i = 0; i < count; ++i) s[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    return s;
}
