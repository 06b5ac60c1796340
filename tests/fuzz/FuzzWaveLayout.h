#pragma once
// Fuzz body: the WAV layout reader, reached the way "Record to wav" reaches it. The input is
// the bytes of an existing file whose name the user chooses for the recording. The name is set
// on the WAV sink's wave (FileMustExist off, as the main window sets it); then, when the file
// was accepted, two buffers are recorded into it through the chain as the program does.
//
// What must hold: a file that is not a WAVE file is refused with "Invalid wave file..." and
// leaves the wave without a name; an accepted file's layout lies inside the file; recording
// over it produces exactly the program's own WAV file (header, samples, "fact").

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>

#include "audio/MMDSPObj.h"
#include "audio/MMWaveFile.h"
#include "audio/MMWaveHdr.h"
#include "fuzz/FuzzFiles.h"
#include "fuzz/FuzzInput.h"

namespace zelvox::fuzz {

// The output device's part in the chain: opens and starts it, pulls each buffer through the
// head and hands it to the sink after "playing" it.
class FuzzPlayer : public TMMCustomSoundComponent {
public:
    WaveHdrPtr Hdr = AllocWaveHdr(882);
    void Open() { Opened(); }
    void Start() { Started(); }
    void Stop() { Stopped(); }
    void Close() { Closed(); }
    void Play(int buffers) {
        for (int i = 0; i < buffers; ++i) {
            Hdr->dwBufferLength = uint32_t(RealBufferSize());
            Hdr->dwBytesRecorded = 0;
            bool more = false;
            BufferLoad(Hdr.get(), more);
            Hdr->dwBufferLength = Hdr->dwBytesRecorded;
            DeliverBufferReady(Hdr.get());
        }
    }
};

inline void WaveLayoutOne(const uint8_t* data, size_t size) {
    auto check = [](bool ok, const char* what) { FuzzCheck(ok, "WAV layout", what); };
    const auto path = ScratchDir::Get() / "chosen.wav";
    WriteBytes(path, data, size);

    TMMDSPInterface head;
    FuzzPlayer player;
    TMMWaveFile sink;
    const WAVEFORMATEX stream = PcmWaveFormat(16, 1, 44100);
    player.SetInput(&head);
    player.SetOutput(&sink);
    player.SetBufferSize(882);
    head.SetWaveFormat(&stream);
    sink.SetEnabled(false);
    sink.Wave().SetFileMustExist(false);
    sink.FreeSpace = [](const std::string&, uint64_t& f) {
        f = uint64_t(1) << 40;
        return true;
    };
    int16_t next = 1;
    head.OnBufferLoad = [&next](TObject*, PWaveHdr h, bool& more) {
        auto* s = reinterpret_cast<int16_t*>(h->lpData);
        for (uint32_t i = 0; i < h->dwBufferLength / 2; ++i) s[i] = next++;
        h->dwBytesRecorded = h->dwBufferLength;
        more = true;
    };

    try {
        sink.Wave().SetFileName(path.string());
    } catch (const EMMWaveError& e) {
        check(std::strcmp(e.what(), "Invalid wave file...") == 0, "unexpected refusal text");
        check(sink.Wave().FileName().empty() && sink.Wave().Info() == nullptr,
              "a refused file stayed attached");
        return;
    }
    const WaveIOInfo* info = sink.Wave().Info();
    check(info != nullptr, "an existing file was accepted without a layout");
    check(info->DataOffset >= 0 && info->DataBytes >= 0 && info->TotalSamples >= 0,
          "negative layout figures");
    check(int64_t(info->DataOffset) + info->DataBytes <= int64_t(size), "data beyond the file");
    check(info->FileSize == size, "file size differs");
    check(sink.Wave().DataSize() >= 0 && sink.Wave().Position() >= 0, "negative size or position");
    (void)sink.Wave().SampleRate();

    // Record over it: the chain opens (the file is deleted and created anew), two buffers
    // are played, the recording ends.
    player.Open();
    sink.SetEnabled(true);
    player.Start();
    player.Play(2);
    player.Stop();
    sink.SetEnabled(false);
    sink.Wave().SetFileName("");
    player.Close();

    const std::vector<uint8_t> out = ReadBytes(path);
    check(out.size() == 58 + 2 * 882, "the recording has the wrong length");
    static const uint8_t header[] = {'R', 'I', 'F', 'F', 0x16, 0x07, 0, 0, 'W', 'A', 'V', 'E',
                                     'f', 'm', 't', ' ', 18, 0, 0, 0, 1, 0, 1, 0,
                                     0x44, 0xAC, 0, 0, 0x88, 0x58, 0x01, 0, 2, 0, 16, 0, 0, 0,
                                     'd', 'a', 't', 'a', 0xE4, 0x06, 0, 0};
    check(out.size() >= sizeof header && std::memcmp(out.data(), header, sizeof header) == 0,
          "the recording's header is not the program's");
    for (int i = 0; i < 882 && out.size() == 58 + 2 * 882; ++i)
        check(int16_t(out[46 + 2 * i] | out[47 + 2 * i] << 8) == int16_t(i + 1),
              "the recording's samples differ");
}

} // namespace zelvox::fuzz
