#include "settings/Settings.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zelvox {

namespace {

// A settings file is a few hundred bytes. Anything beyond this is not ours: reads give the
// defaults and writes refuse rather than rewrite (and so keep) a file of that size.
constexpr std::uintmax_t kMaxFileBytes = 4u << 20;

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    return true;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

std::string Trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && IsBlank(s[b])) ++b;
    while (e > b && IsBlank(s[e - 1])) --e;
    return s.substr(b, e - b);
}

// Reads the whole file; false when it is missing, unreadable or implausibly large.
bool LoadFile(const std::string& path, std::string& text) {
    std::error_code ec;
    auto size = std::filesystem::file_size(path, ec);
    if (ec || size > kMaxFileBytes) return false;
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad() && text.size() <= kMaxFileBytes;
}

// Lines without their terminators; Crlf tells whether the file ends its lines with CR LF.
struct Lines {
    std::vector<std::string> Items;
    bool Crlf = false;
    bool EndsWithNewline = true;
};

Lines SplitLines(const std::string& text) {
    Lines l;
    size_t pos = 0;
    bool first = true;
    while (pos < text.size()) {
        size_t nl = text.find('\n', pos);
        if (nl == std::string::npos) {
            l.Items.push_back(text.substr(pos));
            l.EndsWithNewline = false;
            break;
        }
        std::string line = text.substr(pos, nl - pos);
        bool cr = !line.empty() && line.back() == '\r';
        if (first) l.Crlf = cr;
        first = false;
        if (cr) line.pop_back();
        l.Items.push_back(std::move(line));
        pos = nl + 1;
    }
    return l;
}

// "[Name]" (blanks allowed around it) gives true and the name.
bool SectionLine(const std::string& line, std::string& name) {
    std::string t = Trim(line);
    if (t.size() < 2 || t.front() != '[') return false;
    size_t close = t.find(']');
    if (close == std::string::npos) return false;
    name = Trim(t.substr(1, close - 1));
    return true;
}

// "Key=Value" gives true, the trimmed key and the raw value text.
bool KeyLine(const std::string& line, std::string& key, std::string& value) {
    size_t eq = line.find('=');
    if (eq == std::string::npos) return false;
    key = Trim(line.substr(0, eq));
    value = line.substr(eq + 1);
    return !key.empty() && key.front() != ';';
}

// Index of the section's header line, or -1.
long FindSection(const Lines& l, const std::string& section) {
    std::string name;
    for (size_t i = 0; i < l.Items.size(); ++i)
        if (SectionLine(l.Items[i], name) && SameName(name, section)) return static_cast<long>(i);
    return -1;
}

std::string WithoutLineBreaks(std::string s) {
    for (char& c : s)
        if (c == '\r' || c == '\n') c = ' ';
    return s;
}

[[noreturn]] void WriteFailed(const std::string& path) {
    throw ESettingsError("Unable to write to " + path);
}

// Writes Text to Path through a temporary file in the same folder and a rename.
void ReplaceFile(const std::string& path, const std::string& text) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::path target(path);
    // Keep a symbolic link a link: write to the file it names.
    if (fs::is_symlink(target, ec)) {
        fs::path resolved = fs::canonical(target, ec);
        if (!ec) target = resolved;
    }
    fs::path dir = target.parent_path();
    if (!dir.empty()) {
        fs::create_directories(dir, ec);
        if (ec) WriteFailed(path);
    }
    std::string tmpl = (dir.empty() ? fs::path(".") : dir).string() + "/.ZLVX3.INI.XXXXXX";
    std::vector<char> name(tmpl.begin(), tmpl.end());
    name.push_back('\0');
    int fd = ::mkstemp(name.data());
    if (fd < 0) WriteFailed(path);
    mode_t mode = 0644;
    struct stat st {};
    if (::stat(target.c_str(), &st) == 0) mode = st.st_mode & 07777;
    bool ok = ::fchmod(fd, mode) == 0;
    size_t done = 0;
    while (ok && done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) ok = false;
        else done += static_cast<size_t>(n);
    }
    if (ok && ::fsync(fd) != 0) ok = false;
    if (::close(fd) != 0) ok = false;
    if (ok && ::rename(name.data(), target.c_str()) != 0) ok = false;
    if (!ok) {
        ::unlink(name.data());
        WriteFailed(path);
    }
}

} // namespace

bool ParseProfileInteger(const std::string& text, int32_t& value) {
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        if (text.size() > 10) return false; // more than 32 bits
        uint32_t v = 0;
        for (size_t i = 2; i < text.size(); ++i) {
            char c = text[i];
            uint32_t d;
            if (c >= '0' && c <= '9') d = static_cast<uint32_t>(c - '0');
            else if (c >= 'a' && c <= 'f') d = static_cast<uint32_t>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F') d = static_cast<uint32_t>(c - 'A' + 10);
            else return false;
            v = (v << 4) | d;
        }
        value = static_cast<int32_t>(v);
        return true;
    }
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    if (i == text.size()) return false;
    int64_t v = 0;
    for (; i < text.size(); ++i) {
        char c = text[i];
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
        if (v > int64_t{std::numeric_limits<int32_t>::max()} + 1) return false;
    }
    if (negative) v = -v;
    if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max())
        return false;
    value = static_cast<int32_t>(v);
    return true;
}

TSettingsFile::TSettingsFile() {
    std::string dir;
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && *xdg == '/') {
        dir = xdg;
    } else {
        const char* home = std::getenv("HOME");
        dir = std::string(home && *home ? home : ".") + "/.config";
    }
    Path_ = dir + "/zelvox/" + kFileName;
}

TSettingsFile::TSettingsFile(std::string path) : Path_(std::move(path)) {}

std::string TSettingsFile::ReadString(const std::string& section, const std::string& key,
                                      const std::string& def) const {
    if (Held_) return ProfileString(Held_->Text, section, key, def);
    std::string text;
    if (!LoadFile(Path_, text)) return def;
    return ProfileString(text, section, key, def);
}

void TSettingsFile::Hold() {
    if (Held_) return;
    auto held = std::make_shared<HeldText>();
    std::error_code ec;
    if (std::filesystem::exists(Path_, ec) && !LoadFile(Path_, held->Text)) {
        held->Text.clear();
        held->Unreadable = true;
    }
    held->Committed = held->Text;
    Held_ = std::move(held);
}

void TSettingsFile::Commit() const {
    if (!Held_) return;
    if (Held_->Unreadable) WriteFailed(Path_);
    ReplaceFile(Path_, Held_->Text);
    Held_->Committed = Held_->Text;
}

bool TSettingsFile::Changed() const {
    return Held_ && Held_->Text != Held_->Committed;
}

std::string ProfileString(const std::string& text, const std::string& section,
                          const std::string& key, const std::string& def) {
    Lines l = SplitLines(text);
    long s = FindSection(l, section);
    if (s < 0) return def;
    std::string name, k, v;
    for (size_t i = static_cast<size_t>(s) + 1; i < l.Items.size(); ++i) {
        if (SectionLine(l.Items[i], name)) break;
        if (KeyLine(l.Items[i], k, v) && SameName(k, key)) {
            v = Trim(v);
            if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
            return v;
        }
    }
    return def;
}

int32_t TSettingsFile::ReadInteger(const std::string& section, const std::string& key,
                                   int32_t def) const {
    int32_t v;
    return ParseProfileInteger(ReadString(section, key, ""), v) ? v : def;
}

bool TSettingsFile::ReadBool(const std::string& section, const std::string& key,
                             bool def) const {
    return ReadInteger(section, key, def ? 1 : 0) != 0;
}

void TSettingsFile::WriteString(const std::string& section, const std::string& key,
                                const std::string& value) const {
    std::string text;
    if (Held_) {
        text = Held_->Text;
    } else {
        std::error_code ec;
        bool exists = std::filesystem::exists(Path_, ec);
        if (exists && !LoadFile(Path_, text))
            WriteFailed(Path_); // never replace what we can't read
    }
    Lines l = SplitLines(text);
    const std::string entry = WithoutLineBreaks(key) + "=" + WithoutLineBreaks(value);
    long s = FindSection(l, section);
    if (s < 0) {
        if (!l.Items.empty() && !Trim(l.Items.back()).empty()) l.Items.emplace_back();
        // Built by appending: GCC 12 at -O3 misreports "[" + std::string&& as an overlapping
        // memcpy (-Wrestrict).
        std::string header = "[";
        header += WithoutLineBreaks(section);
        header += ']';
        l.Items.push_back(std::move(header));
        l.Items.push_back(entry);
    } else {
        size_t end = static_cast<size_t>(s) + 1, lastFilled = static_cast<size_t>(s);
        std::string name, k, v;
        bool replaced = false;
        for (; end < l.Items.size(); ++end) {
            if (SectionLine(l.Items[end], name)) break;
            if (KeyLine(l.Items[end], k, v) && SameName(k, key)) {
                l.Items[end] = entry;
                replaced = true;
                break;
            }
            if (!Trim(l.Items[end]).empty()) lastFilled = end;
        }
        if (!replaced) l.Items.insert(l.Items.begin() + static_cast<long>(lastFilled) + 1, entry);
    }
    const char* nl = l.Crlf ? "\r\n" : "\n";
    std::string out;
    for (size_t i = 0; i < l.Items.size(); ++i) {
        out += l.Items[i];
        out += nl;
    }
    if (Held_) {
        Held_->Text = std::move(out);
        if (OnHeldWrite) OnHeldWrite();
        return;
    }
    ReplaceFile(Path_, out);
}

void TSettingsFile::WriteInteger(const std::string& section, const std::string& key,
                                 int32_t value) const {
    WriteString(section, key, std::to_string(value));
}

void TSettingsFile::WriteBool(const std::string& section, const std::string& key,
                              bool value) const {
    WriteString(section, key, value ? "1" : "0");
}

} // namespace zelvox
