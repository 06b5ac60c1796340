#pragma once
// A private scratch folder for fuzz bodies that must hand their input to the program as a
// file: on a memory file system when there is one, removed when the process ends.

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace zelvox::fuzz {

class ScratchDir {
public:
    static const std::filesystem::path& Get() {
        static ScratchDir dir;
        return dir.Path_;
    }

private:
    ScratchDir() {
        std::string base = "/tmp";
        if (::access("/dev/shm", W_OK) == 0) base = "/dev/shm";
        std::string tmpl = base + "/zelvox-fuzz-XXXXXX";
        std::vector<char> name(tmpl.begin(), tmpl.end());
        name.push_back('\0');
        if (::mkdtemp(name.data()) == nullptr) {
            std::perror("mkdtemp");
            std::abort();
        }
        Path_ = name.data();
    }
    ~ScratchDir() {
        std::error_code ec;
        std::filesystem::remove_all(Path_, ec);
    }
    std::filesystem::path Path_;
};

// Replaces the file's contents with the bytes.
inline void WriteBytes(const std::filesystem::path& path, const uint8_t* data, size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
    if (!out) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        std::abort();
    }
}

inline std::vector<uint8_t> ReadBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

} // namespace zelvox::fuzz
