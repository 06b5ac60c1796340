// Writes the seed corpus of every fuzz target with the program's own code:
//   zelvox_make_seeds <corpus dir>     (normally tests/fuzz/corpus)
// Each target's seeds go to <corpus dir>/<target>/. Run it again after a file layout or a
// script format changes, and commit what it writes.

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "fuzz/FuzzInput.h"

namespace fs = std::filesystem;
using zelvox::fuzz::FuzzScript;

namespace {

void Write(const fs::path& dir, const std::string& name, const std::vector<uint8_t>& bytes) {
    fs::create_directories(dir);
    std::ofstream out(dir / name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    if (!out) {
        std::fprintf(stderr, "cannot write %s\n", (dir / name).c_str());
        std::exit(1);
    }
}

// MIDI stream scripts (see FuzzMidiStream.h for the commands).
void MidiSeeds(const fs::path& dir) {
    auto header = [](FuzzScript& s, uint8_t capacity, uint16_t sysexSize, uint8_t sysexCount) {
        s.Byte(capacity).U16(sysexSize).Byte(sysexCount);
    };
    auto cc = [](FuzzScript& s, uint8_t channel, uint8_t controller, uint8_t value) {
        s.Byte(0).U32(uint32_t(0xB0 | channel) | uint32_t(controller) << 8 | uint32_t(value) << 16);
    };
    {
        // A controller sweep: CC 0..31 on channel 0, values rising, taken now and then.
        FuzzScript s;
        header(s, 32, 512, 4);
        for (uint8_t c = 0; c < 32; ++c) {
            cc(s, 0, c, uint8_t(c * 4));
            if (c % 8 == 7) s.Byte(2);
        }
        s.Byte(2);
        Write(dir, "cc-sweep", s.Data);
    }
    {
        // Mixed traffic on several channels: notes, CCs, pitch bend, clock and sensing bytes
        // (dropped by the callback) and a system-exclusive block split over two buffers.
        FuzzScript s;
        header(s, 16, 8, 3);
        s.Byte(0).U32(0x7F3C90); // note on
        cc(s, 3, 7, 100);
        cc(s, 0, 74, 127);
        s.Byte(0).U32(0xF8);
        s.Byte(0).U32(0xFE);
        s.Byte(0).U32(0x4000E1); // pitch bend
        s.Byte(1).U16(12).Bytes({0xF0, 0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0x01, 0x02,
                                 0x03, 0xF7});
        s.Byte(2);
        s.Byte(3);
        cc(s, 0, 1, 1); // dropped: SysexOnly
        s.Byte(3);
        s.Byte(4);
        cc(s, 15, 0, 64);
        s.Byte(2);
        Write(dir, "mixed", s.Data);
    }
    {
        // A flood that fills a small ring, then the overflow.
        FuzzScript s;
        header(s, 4, 64, 1);
        for (int i = 0; i < 10; ++i) cc(s, 0, uint8_t(i), 64);
        s.Byte(2);
        Write(dir, "overflow", s.Data);
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <corpus dir>\n", argv[0]);
        return 2;
    }
    const fs::path root = argv[1];
    MidiSeeds(root / "midi");
    return 0;
}
