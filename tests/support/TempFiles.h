#pragma once
// Scratch folders and whole-file reads and writes for the tests.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

namespace zelvox::test {

inline std::vector<uint8_t> ReadAll(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteAll(const std::filesystem::path& p, const std::vector<uint8_t>& b) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
}

// Little-endian 32-bit value and four-character tag at a byte offset of a file's bytes.
inline uint32_t U32(const std::vector<uint8_t>& b, size_t at) {
    return uint32_t(b.at(at)) | uint32_t(b.at(at + 1)) << 8 | uint32_t(b.at(at + 2)) << 16 |
           uint32_t(b.at(at + 3)) << 24;
}
inline std::string Tag(const std::vector<uint8_t>& b, size_t at) {
    return std::string(reinterpret_cast<const char*>(&b.at(at)), 4);
}

// The 16-bit samples of a WAV file's "data" chunk (empty when there is none).
inline std::vector<int16_t> WavSamples(const std::filesystem::path& path) {
    const std::vector<uint8_t> d = ReadAll(path);
    std::vector<int16_t> s;
    size_t p = 12;
    while (p + 8 <= d.size()) {
        const uint32_t len = U32(d, p + 4);
        if (Tag(d, p) == "data") {
            const size_t end = std::min(d.size(), p + 8 + size_t(len));
            for (size_t i = p + 8; i + 1 < end; i += 2)
                s.push_back(int16_t(uint16_t(d[i] | d[i + 1] << 8)));
            break;
        }
        p += 8 + size_t(len) + (len & 1);
    }
    return s;
}

// How many zero samples a recording starts with.
inline size_t LeadingSilence(const std::vector<int16_t>& s) {
    size_t n = 0;
    while (n < s.size() && s[n] == 0) ++n;
    return n;
}

// The first i below n where a[a0 + i] and b[b0 + i] differ, or n when none do.
inline size_t FirstMismatch(const std::vector<int16_t>& a, size_t a0, const std::vector<int16_t>& b,
                            size_t b0, size_t n) {
    for (size_t i = 0; i < n; ++i)
        if (a.at(a0 + i) != b.at(b0 + i)) return i;
    return n;
}

// A fresh, empty folder under the system's temp folder, removed with everything in it (even
// after a test took its write permission away).
class TempDir {
public:
    explicit TempDir(const std::string& prefix = "zelvox-test") {
        std::string name = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
        if (::mkdtemp(name.data()) == nullptr) throw std::runtime_error("mkdtemp failed: " + name);
        path = name;
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::permissions(path, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
        std::filesystem::remove_all(path, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::string operator/(const std::string& name) const { return (path / name).string(); }
    // How many entries the folder holds.
    int Entries() const {
        int n = 0;
        for (const auto& e : std::filesystem::directory_iterator(path)) (void)e, ++n;
        return n;
    }

    std::filesystem::path path;
};

} // namespace zelvox::test
