#pragma once
// Running the zelvox-render program from a test.

#include <cstdlib>
#include <filesystem>
#include <string>

namespace zelvox::test {

// s in single quotes for the shell.
inline std::string Quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += (c == '\'') ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// The renderer program: from ZELVOX_BIN_DIR, else beside this test's build folder.
inline std::string RendererPath() {
    if (const char* bin = std::getenv("ZELVOX_BIN_DIR")) return std::string(bin) + "/zelvox-render";
    std::error_code ec;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    return (self.parent_path().parent_path() / "app" / "zelvox-render").string();
}

} // namespace zelvox::test
