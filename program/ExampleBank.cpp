#include "program/ExampleBank.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "files/PatternFileFormat.h"

// Set by the build from the install folders; the defaults are a plain /usr/local install's.
#ifndef ZELVOX_DATA_RELATIVE_DIR
#define ZELVOX_DATA_RELATIVE_DIR "../share/zelvox"
#endif
#ifndef ZELVOX_DATA_INSTALL_DIR
#define ZELVOX_DATA_INSTALL_DIR "/usr/local/share/zelvox"
#endif

namespace zelvox {

namespace fs = std::filesystem;

std::string ProgramDir() {
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : exe.parent_path().string();
}

std::vector<std::string> ExampleFolders(const std::string& programDir) {
    std::vector<std::string> folders;
    if (!programDir.empty())
        folders.push_back((fs::path(programDir) / ZELVOX_DATA_RELATIVE_DIR / "patterns")
                              .lexically_normal()
                              .string());
    const std::string configured =
        (fs::path(ZELVOX_DATA_INSTALL_DIR) / "patterns").lexically_normal().string();
    if (std::find(folders.begin(), folders.end(), configured) == folders.end())
        folders.push_back(configured);
    return folders;
}

std::vector<Example> ListExamples(const std::string& programDir) {
    for (const std::string& folder : ExampleFolders(programDir)) {
        std::vector<Example> found;
        std::error_code ec;
        for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
            const fs::path& p = it->path();
            std::error_code fileEc;
            if (p.extension() == ".zvx" && fs::is_regular_file(p, fileEc))
                found.push_back({p.stem().string(), p.string()});
        }
        if (found.empty()) continue;
        std::sort(found.begin(), found.end(),
                  [](const Example& a, const Example& b) { return a.Name < b.Name; });
        return found;
    }
    return {};
}

Example FindExample(const std::string& programDir, const std::string& name) {
    std::string want = name;
    if (want.size() > 4 && want.compare(want.size() - 4, 4, ".zvx") == 0)
        want.resize(want.size() - 4);
    for (const Example& e : ListExamples(programDir))
        if (e.Name == want) return e;
    return {want, {}};
}

bool PatternFileHasSong(const std::vector<unsigned char>& bytes) {
    if (bytes.size() < kPatternFileSize) return false;
    PatternFileRecord r;
    DecodePatternFile(bytes.data(), r);
    return r.Phrases[1].Pattern != 0 && r.Phrases[1].Count != 0;
}

} // namespace zelvox
