#pragma once
// Fuzz body: the settings file's reader on its own. The input is the file's text; the keys
// the program reads are looked up in it (ProfileString, what every read does with the text)
// and the values read as the program reads them. FuzzSettings.h starts the dialogs on it and
// writes keys, much more slowly.
//
// What must hold: a lookup never fails; a value found is one line, trimmed, and never the
// default's stand-in; an integer value is what the integer rule makes of the text, and a
// decimal number printed back reads as the same number; once per input, the file read from
// disk gives what the text gives.

#include <cstdint>
#include <string>

#include "settings/Settings.h"
#include "fuzz/FuzzFiles.h"
#include "fuzz/FuzzInput.h"

namespace zelvox::fuzz {

inline void SettingsReadOne(const uint8_t* data, size_t size) {
    auto check = [](bool ok, const char* what) { FuzzCheck(ok, "settings read", what); };
    const std::string text(reinterpret_cast<const char*>(data), size);
    static const char* const kNone = "\x01none";
    struct Key {
        const char* Section;
        const char* Name;
    };
    // A few of the keys the program reads, of each form (section, case, digits).
    static const Key kKeys[] = {
        {"Audio", "Buffers"}, {"Audio", "Device"}, {"audio", "SendClock"},
        {"MIDI", "CHANNEL"},  {"MIDI", "30"},
    };
    for (const Key& k : kKeys) {
        const std::string v = ProfileString(text, k.Section, k.Name, kNone);
        if (v == kNone) continue;
        check(v.find('\n') == std::string::npos, "a value runs over two lines");
        const bool quoted = size_t(v.size()) + 2 <= text.size() &&
                            text.find('"' + v + '"') != std::string::npos;
        if (!quoted && !v.empty()) {
            const char first = v.front(), last = v.back();
            check(first != ' ' && first != '\t' && last != ' ' && last != '\t' && last != '\r',
                  "a value with blanks around it");
        }
        int32_t n = 0;
        if (ParseProfileInteger(v, n)) {
            int32_t back = 0;
            check(ParseProfileInteger(std::to_string(n), back) && back == n,
                  "a number does not read back as itself");
        }
    }
    // Once: the file on disk reads as its text does.
    const auto path = ScratchDir::Get() / "ZLVX3.INI";
    WriteBytes(path, data, size);
    const TSettingsFile file(path.string());
    const Key& k = kKeys[size % std::size(kKeys)];
    check(file.ReadString(k.Section, k.Name, kNone) == ProfileString(text, k.Section, k.Name, kNone),
          "the file and its text read differently");
    int32_t n = 0;
    const std::string v = ProfileString(text, k.Section, k.Name, "");
    check(file.ReadInteger(k.Section, k.Name, -7) == (ParseProfileInteger(v, n) ? n : -7),
          "ReadInteger differs from the integer rule");
}

} // namespace zelvox::fuzz
