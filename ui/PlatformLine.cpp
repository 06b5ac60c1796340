#include "ui/PlatformLine.h"

#include <fstream>
#include <sstream>

#include <sys/utsname.h>

namespace zelvox {

std::string OsReleasePrettyName(const std::string& text) {
    std::istringstream in(text);
    std::string line, found;
    while (std::getline(in, line)) {
        if (line.rfind("PRETTY_NAME=", 0) != 0) continue;
        std::string v = line.substr(12);
        while (!v.empty() && (v.back() == '\r' || v.back() == ' ' || v.back() == '\t')) v.pop_back();
        std::string out;
        if (!v.empty() && (v.front() == '"' || v.front() == '\'')) {
            // Shell quoting as the file's format allows it: a backslash escapes the next
            // character inside double quotes; the value ends at the closing quote.
            const char q = v.front();
            for (size_t i = 1; i < v.size() && v[i] != q; ++i) {
                if (q == '"' && v[i] == '\\' && i + 1 < v.size()) ++i;
                out += v[i];
            }
        } else {
            out = v;
        }
        found.clear();
        for (char c : out)
            if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F) found += c;
        // The last assignment wins, as when the file is sourced.
    }
    return found;
}

std::string PlatformLine(const std::string& sysname, const std::string& machine,
                         const std::string& osReleaseText) {
    std::string kernel = sysname;
    if (!machine.empty()) kernel += (kernel.empty() ? "" : " ") + machine;
    std::string pretty = OsReleasePrettyName(osReleaseText);
    if (pretty.size() > kMaxPrettyName) {
        // Cut on a character boundary of UTF-8 text.
        size_t cut = kMaxPrettyName - 3;
        while (cut > 0 && (static_cast<unsigned char>(pretty[cut]) & 0xC0) == 0x80) --cut;
        pretty = pretty.substr(0, cut) + "...";
    }
    std::string line = kernel;
    if (!pretty.empty()) line += (line.empty() ? "" : ", ") + pretty;
    return line.empty() ? "For Linux" : "For " + line;
}

std::string PlatformLine() {
    utsname u{};
    const bool named = ::uname(&u) == 0;
    std::string osRelease;
    for (const char* path : {"/etc/os-release", "/usr/lib/os-release"}) {
        std::ifstream f(path);
        if (!f) continue;
        std::ostringstream s;
        s << f.rdbuf();
        osRelease = s.str();
        break;
    }
    return PlatformLine(named ? u.sysname : "", named ? u.machine : "", osRelease);
}

} // namespace zelvox
