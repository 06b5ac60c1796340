// Writes the seed corpus of every fuzz target with the program's own code:
//   zelvox_make_seeds <corpus dir>     (normally tests/fuzz/corpus)
// Each target's seeds go to <corpus dir>/<target>/. Run it again after a file layout or a
// script format changes, and commit what it writes.

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "devices/AudioBackend.h"
#include "files/MMFormat.h"
#include "files/MMWave.h"
#include "settings/Settings.h"
#include "program/PatternFileCommands.h"
#include "program/HeadlessProgram.h"
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
    // Ring and buffers, channel filter, who takes the events, then the controller number of
    // each of the 31 slots: here the bass functions on CC 70..76, Twin-T on 80..82, noise on
    // 90..93, the unused slots on 129 (no controller).
    auto header = [](FuzzScript& s, uint8_t capacity, uint16_t sysexSize, uint8_t sysexCount,
                     uint8_t channel = 0, bool dialogHandler = false) {
        s.Byte(capacity).U16(sysexSize).Byte(sysexCount).Byte(channel).Byte(dialogHandler);
        for (int slot = 0; slot < 31; ++slot) {
            uint8_t cc = 129;
            if (slot <= 6) cc = uint8_t(70 + slot);
            else if (slot >= 10 && slot <= 12) cc = uint8_t(80 + slot - 10);
            else if (slot >= 20 && slot <= 23) cc = uint8_t(90 + slot - 20);
            s.Byte(cc);
        }
    };
    auto cc = [](FuzzScript& s, uint8_t channel, uint8_t controller, uint8_t value) {
        s.Byte(0).U32(uint32_t(0xB0 | channel) | uint32_t(controller) << 8 | uint32_t(value) << 16);
    };
    {
        // A controller sweep over every assigned controller on channel 0, values rising,
        // taken now and then.
        FuzzScript s;
        header(s, 32, 512, 4);
        for (uint8_t c = 68; c < 96; ++c) {
            cc(s, 0, c, uint8_t((c * 37) & 0x7F));
            if (c % 8 == 7) s.Byte(2);
        }
        s.Byte(2);
        Write(dir, "cc-sweep", s.Data);
        // The same through the dialog's own handler, with the channel filter on 3.
        FuzzScript d;
        header(d, 64, 512, 4, 3, true);
        for (uint8_t v = 0; v < 128; v += 9) {
            cc(d, 3, 73, v); // bass Resonance, scaled
            cc(d, 3, 76, v); // bass Length, scaled and offset
            cc(d, 2, 92, v); // noise Colour on another channel: filtered out
        }
        d.Byte(2);
        Write(dir, "cc-dialog-channel3", d.Data);
    }
    {
        // Mixed traffic on several channels: notes, CCs, pitch bend, clock and sensing bytes
        // (dropped by the callback) and a system-exclusive block split over two buffers.
        FuzzScript s;
        header(s, 16, 8, 3);
        s.Byte(0).U32(0x7F3C90); // note on
        cc(s, 3, 7, 100);
        cc(s, 0, 74, 127); // bass Env-Mod
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

std::vector<uint8_t> ReadAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// WAV files written by the WAV sink's wave object, and damaged copies of one.
void WaveSeeds(const fs::path& dir, const fs::path& scratch) {
    using namespace zelvox;
    auto record = [&](const WAVEFORMATEX& format, const std::vector<uint8_t>& samples) {
        const fs::path file = scratch / "seed.wav";
        {
            TMMWave w;
            w.CreateWaveFile(file.string(), &format);
            if (!samples.empty()) w.WriteData(samples.data(), int32_t(samples.size()));
            w.CloseWaveFile();
        }
        return ReadAll(file);
    };
    std::vector<uint8_t> program(2 * 882);
    for (size_t i = 0; i < program.size(); ++i) program[i] = uint8_t(i * 7);
    const std::vector<uint8_t> own = record(PcmWaveFormat(16, 1, 44100), program);
    Write(dir, "recorded", own);
    Write(dir, "stereo-8bit-odd", record(PcmWaveFormat(8, 2, 22050), std::vector<uint8_t>(301, 0x80)));
    WAVEFORMATEX adpcm = PcmWaveFormat(16, 1, 44100);
    adpcm.wFormatTag = 2;
    adpcm.nBlockAlign = 256;
    adpcm.nAvgBytesPerSec = 22311;
    adpcm.wBitsPerSample = 4;
    adpcm.Extra = {0xF4, 0x01, 0x07, 0x00};
    adpcm.cbSize = 4;
    Write(dir, "adpcm-extra", record(adpcm, std::vector<uint8_t>(512, 0x11)));
    Write(dir, "empty", record(PcmWaveFormat(16, 1, 44100), {}));
    // An unfinished recording: the sizes still 0 and no "fact" chunk.
    std::vector<uint8_t> unfinished(own.begin(), own.end() - 12);
    for (size_t at : {4u, 42u})
        for (size_t k = 0; k < 4; ++k) unfinished[at + k] = 0;
    Write(dir, "unfinished", unfinished);
}

// Settings files written by the settings file's own writer.
void SettingsSeeds(const fs::path& dir, const fs::path& scratch) {
    using namespace zelvox;
    const fs::path file = scratch / "ZLVX3.INI";
    {
        fs::remove(file);
        TSettingsFile s(file.string());
        s.WriteInteger("Audio", "Buffers", 40);
        WriteAudioBackendChoice(s, {"jack", "system"});
        for (int n = 0; n <= 30; ++n) s.WriteInteger("MIDI", std::to_string(n), n < 7 ? 70 + n : 0);
        s.WriteBool("MIDI", "ENABLED", true);
        s.WriteInteger("MIDI", "CHANNEL", 3);
        Write(dir, "full", ReadAll(file));
    }
    {
        // Line ends of another system, a hexadecimal value, a comment and an unknown section.
        fs::remove(file);
        std::ofstream(file, std::ios::binary) << "; settings\r\n[Other]\r\nx=1\r\n";
        TSettingsFile s(file.string());
        s.WriteString("Audio", "Buffers", "0x50");
        s.WriteString("MIDI", "ENABLED", "\"1\"");
        s.WriteInteger("MIDI", "CHANNEL", -1);
        Write(dir, "crlf-hex", ReadAll(file));
    }
    fs::remove(file);
}

// Pattern files saved by File -> "Save pattern".
void PatternSeeds(const fs::path& dir, const fs::path& scratch) {
    using namespace zelvox;
    const fs::path file = scratch / "seed.zvx";
    std::vector<uint8_t> plain;
    {
        HeadlessProgram p; // right after start-up
        SavePatternFile(p.Form, p.Envelopes, file.string());
        plain = ReadAll(file);
        Write(dir, "startup", plain);
    }
    {
        // A busy song: other notes, knobs turned per step, other tempo, steps, echo and
        // contours, and an arrangement.
        HeadlessProgram p;
        MainForm& f = p.Form;
        f.SelectedNote1Click();
        for (int s = 1; s <= 16; ++s) {
            f.MMSliderEnter(s);
            f.MMSlider(s).SetValue((s * 7) % 37 + 1);
            f.MMWheel3.SetValue((s * 9) % 127);
            f.MMWheel4.SetValue((s * 13) % 106);
            f.MMWheel5.SetValue(127 - s);
        }
        f.SpinEdit972.SetValue(240);
        f.SpinEdit971.SetValue(7);
        f.MMWheel16.SetValue(16);
        f.MMWheel17.SetValue(100);
        p.Envelopes.SpinEdit971.SetValue(0);
        p.Envelopes.SpinEdit972.SetValue(40);
        p.Envelopes.SpinEdit973.SetValue(39);
        p.Envelopes.SpinEdit974.SetValue(5);
        for (int k = 1; k <= 4; ++k) {
            f.PhrasePatternSpin(k).SetValue(k);
            f.PhraseCountSpin(k).SetValue(k + 1);
        }
        SavePatternFile(f, p.Envelopes, file.string());
        Write(dir, "busy", ReadAll(file));
    }
    // Bytes after the first record are ignored; one byte short is refused.
    std::vector<uint8_t> longer = plain;
    longer.resize(30000, 0xEE);
    Write(dir, "longer", longer);
    Write(dir, "short", std::vector<uint8_t>(plain.begin(), plain.end() - 1));
    fs::remove(file);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <corpus dir>\n", argv[0]);
        return 2;
    }
    const fs::path root = argv[1];
    const fs::path scratch = fs::temp_directory_path() / "zelvox-seeds";
    fs::create_directories(scratch);
    MidiSeeds(root / "midi");
    WaveSeeds(root / "wave", scratch);
    SettingsSeeds(root / "settings", scratch);
    PatternSeeds(root / "pattern", scratch);
    fs::remove_all(scratch);
    return 0;
}
