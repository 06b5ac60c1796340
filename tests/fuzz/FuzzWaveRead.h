#pragma once
// Fuzz body: the WAV layout reader on its own. The input is a file's bytes; its layout is
// read, and when accepted the file is attached to a wave object as a source is, and its
// positions and times worked out. FuzzWaveLayout.h records over it too, more slowly.
//
// What must hold: no layout for a file that is not RIFF/WAVE with a "fmt " chunk; an accepted
// layout lies inside the file, its sizes agree with each other and are never negative; the
// conversions between bytes, frames and milliseconds stay in range; every position inside
// the data can be set and one outside is refused.

#include <cstdint>
#include <cstring>

#include "files/MMFormat.h"
#include "files/MMWave.h"
#include "fuzz/FuzzFiles.h"
#include "fuzz/FuzzInput.h"

namespace zelvox::fuzz {

inline void WaveReadOne(const uint8_t* data, size_t size) {
    auto check = [](bool ok, const char* what) { FuzzCheck(ok, "WAV read", what); };
    const auto path = ScratchDir::Get() / "source.wav";
    WriteBytes(path, data, size);
    const auto info = ReadWaveLayout(path.string());
    const bool riff = size >= 12 && std::memcmp(data, "RIFF", 4) == 0 &&
                      std::memcmp(data + 8, "WAVE", 4) == 0;
    if (!info) return;
    check(riff, "a file that is not RIFF/WAVE was accepted");
    const WAVEFORMATEX& w = info->Format;
    check(info->DataOffset >= 0 && info->DataBytes >= 0 && info->TotalSamples >= 0 &&
              info->BytesLeft == info->DataBytes && info->EndSample == info->TotalSamples,
          "layout figures negative or disagreeing");
    check(int64_t(info->DataOffset) + info->DataBytes <= int64_t(size), "data beyond the file");
    check(info->FileSize == size, "file size differs");
    if (w.nBlockAlign > 0)
        check(info->DataBytes % w.nBlockAlign == 0, "data ends inside a frame");
    const int32_t frames = info->TotalSamples;
    check(wioSamplesToBytes(w, frames) >= 0 && wioSamplesToTime(w, frames) >= 0 &&
              wioTimeToSamples(w, wioSamplesToTime(w, frames)) >= 0,
          "a conversion gave a negative figure");

    TMMWave wave;
    try {
        wave.SetFileName(path.string());
    } catch (const EMMWaveError&) {
        check(false, "a file with a layout was refused when attached");
    }
    check(wave.Info() != nullptr && wave.DataSize() == frames, "attached with another length");
    for (TMMTimeFormats f : {TMMTimeFormats::tfMillisecond, TMMTimeFormats::tfByte}) {
        wave.TimeFormat = f;
        check(wave.DataSize() >= 0, "a negative length in another unit");
    }
    wave.TimeFormat = TMMTimeFormats::tfSample;
    for (const int32_t at : {0, frames / 2, frames}) {
        try {
            wave.SetPosition(at);
        } catch (const EMMWaveError&) {
            check(false, "a position inside the data was refused");
        }
        check(wave.Position() == at, "the position set is not the position");
    }
    // Past the end, where there is a past the end in 32 bits.
    if (frames < INT32_MAX) {
        bool refused = false;
        try {
            wave.SetPosition(frames + 1);
        } catch (const EMMWaveError&) {
            refused = true;
        }
        check(refused, "a position past the end was taken");
    }
    wave.SetFileName("");
}

} // namespace zelvox::fuzz
