#include "support/MidiRig.h"

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <unistd.h>

namespace zelvox::test {

namespace {
std::string NewDir() {
    static std::atomic<int> n{0};
    const auto dir = std::filesystem::temp_directory_path() /
                     ("zelvox_midi_" + std::to_string(getpid()) + "_" + std::to_string(n++));
    std::filesystem::create_directories(dir);
    return dir.string();
}
} // namespace

TempSettings::TempSettings() : Dir(NewDir()), File(Dir + "/" + TSettingsFile::kFileName) {}

TempSettings::~TempSettings() {
    std::error_code ec;
    std::filesystem::remove_all(Dir, ec);
}

bool TempSettings::Exists() const { return std::filesystem::exists(File.FileName()); }

std::string TempSettings::Text() const {
    std::ifstream in(File.FileName(), std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

TestKnobs::TestKnobs() {
    Table[0] = &MMWheel1;
    Table[1] = &MMWheel2;
    Table[2] = &MMWheel3;
    Table[3] = &MMWheel4;
    Table[4] = &MMWheel5;
    Table[5] = &MMWheel7;
    Table[6] = &MMWheel9;
    Table[10] = &MMWheel8;
    Table[11] = &MMWheel10;
    Table[12] = &MMWheel11;
    Table[20] = &MMWheel12;
    Table[21] = &MMWheel13;
    Table[22] = &MMWheel14;
    Table[23] = &MMWheel15;
    for (Knob* k : Table)
        if (k) k->OnChange = [this, k] { ++Fired[k->Name]; };
}

int TestKnobs::TotalFired() const {
    int n = 0;
    for (const auto& [name, count] : Fired) n += count;
    return n;
}

} // namespace zelvox::test
