#include "program/RateFiles.h"

#include <algorithm>
#include <fstream>
#include <stdexcept>
#include <vector>

#include "files/MMFormat.h"
#include "files/MMWave.h"
#include "engine/EngineState.h"
#include "engine/Round.h"
#include "program/StemFiles.h"
#include "dsp/RateStage.h"

namespace zelvox {

namespace fs = std::filesystem;

std::string RateTargetProblem(const std::string& mix, const std::string& stemsDir) {
    auto stream = [](const fs::path& p) {
        std::error_code ec;
        const fs::file_status st = fs::status(p, ec);
        return fs::is_character_file(st) || fs::is_fifo(st) || fs::is_block_file(st);
    };
    const char* why = "--rate converts finished files; write the render to a file, not to a "
                      "device, a pipe or standard output";
    if (mix == "-" || (!mix.empty() && stream(mix))) return mix + ": " + why;
    if (!stemsDir.empty())
        for (const char* name : StemFiles::kNames)
            if (stream(fs::path(stemsDir) / name))
                return (fs::path(stemsDir) / name).string() + ": " + why;
    return {};
}

void ConvertWavToRate(const fs::path& file, uint32_t rate) {
    const std::string name = file.string();
    const std::unique_ptr<WaveIOInfo> info = ReadWaveLayout(name);
    if (!info || info->Format.wFormatTag != WAVE_FORMAT_PCM || info->Format.nChannels != 1 ||
        info->Format.wBitsPerSample != 16 || info->Format.nSamplesPerSec != uint32_t(kSampleRate))
        throw std::runtime_error(name + ": not the render's 16-bit mono 44100 Hz file");
    std::ifstream in(file, std::ios::binary);
    in.seekg(info->DataOffset);

    WAVEFORMATEX format = info->Format;
    format.nSamplesPerSec = rate;
    format.nAvgBytesPerSec = rate * format.nBlockAlign;
    const fs::path converted = PartPathFor(file);
    RateFileConverter converter(rate);
    TMMWave wave;
    try {
        wave.CreateWaveFile(converted.string(), &format);
        std::vector<uint8_t> bytes;
        std::vector<float> samples, out;
        std::vector<uint8_t> le;
        auto write = [&] {
            le.resize(out.size() * 2);
            for (size_t i = 0; i < out.size(); ++i) {
                const int32_t v = std::clamp(RoundToInt32(out[i] * 32768.0f), -32768, 32767);
                le[2 * i] = uint8_t(v & 0xff);
                le[2 * i + 1] = uint8_t((v >> 8) & 0xff);
            }
            if (!le.empty() && wave.WriteData(le.data(), int32_t(le.size())) != int32_t(le.size()))
                throw std::runtime_error(name + ": Disk full");
            out.clear();
        };
        for (int64_t left = info->DataBytes / 2; left > 0;) {
            const auto n = size_t(std::min<int64_t>(left, 65536));
            bytes.resize(n * 2);
            if (!in.read(reinterpret_cast<char*>(bytes.data()), std::streamsize(bytes.size())))
                throw std::runtime_error(name + ": Read beyond end of file");
            samples.resize(n);
            for (size_t i = 0; i < n; ++i)
                samples[i] = float(int16_t(uint16_t(bytes[2 * i] | bytes[2 * i + 1] << 8))) / 32768.0f;
            converter.Push(samples.data(), n, out);
            write();
            left -= int64_t(n);
        }
        converter.Finish(out);
        write();
        wave.CloseWaveFile();
    } catch (...) {
        std::error_code ec;
        try {
            wave.CloseWaveFile();
        } catch (...) {
        }
        fs::remove(converted, ec);
        throw;
    }
    std::error_code ec;
    fs::rename(converted, file, ec);
    if (ec) {
        fs::remove(converted, ec);
        throw std::runtime_error(name + ": " + ec.message());
    }
}

} // namespace zelvox
