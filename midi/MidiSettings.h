#pragma once
// What the MIDI setup needs of the settings file "ZLVX3.INI" (section "MIDI").

#include <cstdint>
#include <string>

namespace zelvox {

class MidiSettings {
public:
    virtual ~MidiSettings() = default;
    virtual int32_t ReadInteger(const std::string& section, const std::string& key,
                                int32_t def) const = 0;
    virtual bool ReadBool(const std::string& section, const std::string& key, bool def) const = 0;
    virtual void WriteInteger(const std::string& section, const std::string& key,
                              int32_t value) const = 0;
    virtual void WriteBool(const std::string& section, const std::string& key,
                           bool value) const = 0;
};

} // namespace zelvox
