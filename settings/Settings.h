#pragma once
// The settings file "ZLVX3.INI": private-profile text ("[Section]" lines, then "Key=Value"
// lines). Every read and every write opens the file by name; nothing is kept open between
// uses, so another program (or a second Zelvox) editing the file never sees stale state.
//
// Reading tolerates anything: a missing file, a missing key, binary bytes, overlong lines and
// numbers out of range all give the caller's default. Writing one key rewrites the file
// through a temporary file and a rename, so every other line survives byte for byte and a
// failed write leaves the previous file as it was.

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

namespace zelvox {

// "Unable to write to %s", with the file's name.
class ESettingsError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TSettingsFile {
public:
    static constexpr const char* kFileName = "ZLVX3.INI";

    // The file kept in the per-user configuration folder:
    // $XDG_CONFIG_HOME/zelvox/ZLVX3.INI, else $HOME/.config/zelvox/ZLVX3.INI.
    TSettingsFile();
    // A file at an explicit path (tests, other tools).
    explicit TSettingsFile(std::string path);

    const std::string& FileName() const { return Path_; }

    // The value text of Section/Key with surrounding blanks (and one pair of surrounding
    // double quotes) removed; Default when the file, the section or the key is missing.
    // Section and key names compare without regard to ASCII case.
    std::string ReadString(const std::string& section, const std::string& key,
                           const std::string& def) const;
    // Decimal, or hexadecimal after "0x"/"0X" when the text is longer than two characters.
    // Anything else, and anything outside the int32 range, gives Default.
    int32_t ReadInteger(const std::string& section, const std::string& key, int32_t def) const;
    // An integer; non-zero is true.
    bool ReadBool(const std::string& section, const std::string& key, bool def) const;

    // Replaces the key's value (or adds the key, and the section, at the end) and keeps
    // every other line. Throws ESettingsError("Unable to write to <file>") on failure.
    void WriteString(const std::string& section, const std::string& key,
                     const std::string& value) const;
    void WriteInteger(const std::string& section, const std::string& key, int32_t value) const;
    void WriteBool(const std::string& section, const std::string& key, bool value) const;

    // Held in memory (a session manager's client): Hold reads the file once; from then on
    // reads and writes use that copy and the file stays as it is until Commit writes the copy
    // whole (through a temporary file and a rename, as every write). A file that exists but
    // cannot be read is held as empty and never replaced: Commit then throws ESettingsError.
    // Copies of this object share the held text.
    void Hold();
    bool Held() const { return Held_ != nullptr; }
    void Commit() const;
    // The held text differs from what the file had at Hold or at the last Commit.
    bool Changed() const;
    // Run after each write to the held copy (not when the file itself is written).
    std::function<void()> OnHeldWrite;

private:
    struct HeldText {
        std::string Text, Committed;
        bool Unreadable = false;
    };
    std::string Path_;
    std::shared_ptr<HeldText> Held_;
};

// ReadString's lookup in the file's text, for a reader that has the text already.
std::string ProfileString(const std::string& text, const std::string& section,
                          const std::string& key, const std::string& def);

// The integer rule of the file on its own: decimal with an optional sign, or "0x"/"0X"
// followed by up to eight hex digits (read as a 32-bit pattern, so 0xFFFFFFFF is -1).
// Returns false for anything else, including values that do not fit in 32 bits.
bool ParseProfileInteger(const std::string& text, int32_t& value);

} // namespace zelvox
