#include "program/AudioFileFormat.h"

#include <array>
#include <cctype>
#include <memory>
#include <stdexcept>
#include <system_error>

#include <sndfile.h>

#include "program/StemFiles.h"

namespace zelvox {

namespace fs = std::filesystem;

AudioFileKind AudioFileKindOf(const std::string& name) {
    std::string ext = fs::path(name).extension().string();
    for (char& c : ext)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    if (ext == ".flac") return AudioFileKind::Flac;
    if (ext == ".ogg" || ext == ".oga") return AudioFileKind::Ogg;
    return AudioFileKind::Wav;
}

const char* AudioFileExtension(AudioFileKind kind) {
    switch (kind) {
    case AudioFileKind::Flac:
        return ".flac";
    case AudioFileKind::Ogg:
        return ".ogg";
    default:
        return ".wav";
    }
}

const char* AudioFileKindName(AudioFileKind kind) {
    switch (kind) {
    case AudioFileKind::Flac:
        return "FLAC";
    case AudioFileKind::Ogg:
        return "Ogg Vorbis";
    default:
        return "WAV";
    }
}

std::string AudioFormatProblem(const AudioFileFormat& format) {
    if (format.Bits != 16 && format.Bits != 24) return "the bits are 16 or 24";
    if (format.Kind == AudioFileKind::Ogg && format.Bits != 16)
        return "Ogg Vorbis has no bit depth: --bits goes with WAV and FLAC";
    return {};
}

void EncodeWavFile(const fs::path& file, const AudioFileFormat& format,
                   const std::string& shownAs) {
    if (format.Plain()) return;
    const std::string problem = AudioFormatProblem(format);
    if (!problem.empty()) throw std::runtime_error(shownAs + ": " + problem);
    auto closer = [](SNDFILE* f) {
        if (f) sf_close(f);
    };
    SF_INFO inInfo{};
    std::unique_ptr<SNDFILE, decltype(closer)> in(sf_open(file.c_str(), SFM_READ, &inInfo), closer);
    if (!in) throw std::runtime_error(shownAs + ": " + sf_strerror(nullptr));

    SF_INFO outInfo{};
    outInfo.samplerate = inInfo.samplerate;
    outInfo.channels = inInfo.channels;
    const int bits = format.Bits == 24 ? SF_FORMAT_PCM_24 : SF_FORMAT_PCM_16;
    switch (format.Kind) {
    case AudioFileKind::Flac:
        outInfo.format = SF_FORMAT_FLAC | bits;
        break;
    case AudioFileKind::Ogg:
        outInfo.format = SF_FORMAT_OGG | SF_FORMAT_VORBIS;
        break;
    default:
        outInfo.format = SF_FORMAT_WAV | bits;
        break;
    }
    const fs::path tmp = PartPathFor(file);
    std::unique_ptr<SNDFILE, decltype(closer)> out(sf_open(tmp.c_str(), SFM_WRITE, &outInfo),
                                                   closer);
    auto fail = [&](const std::string& why) {
        out.reset();
        std::error_code ec;
        fs::remove(tmp, ec);
        throw std::runtime_error(shownAs + ": " + why);
    };
    if (!out)
        fail(std::string("cannot write ") + AudioFileKindName(format.Kind) + ": " +
             sf_strerror(nullptr));
    if (format.Kind == AudioFileKind::Ogg) {
        // Quality 0.6 (of 0..1): about 160 kbit/s for this mono stream's kind of sound.
        double quality = 0.6;
        sf_command(out.get(), SFC_SET_VBR_ENCODING_QUALITY, &quality, sizeof quality);
    }
    // Shorts in, shorts out: a 24-bit file gets each sample times 256, exactly.
    std::array<short, 4096> buf{};
    const int channels = std::max(inInfo.channels, 1);
    const sf_count_t frames = sf_count_t(buf.size()) / channels;
    for (;;) {
        const sf_count_t n = sf_readf_short(in.get(), buf.data(), frames);
        if (n < 0) fail(sf_strerror(in.get()));
        if (n == 0) break;
        if (sf_writef_short(out.get(), buf.data(), n) != n) fail(sf_strerror(out.get()));
    }
    if (sf_error(in.get()) != SF_ERR_NO_ERROR) fail(sf_strerror(in.get()));
    SNDFILE* done = out.release();
    if (sf_close(done) != 0) fail("the file could not be completed (disk full?)");
    std::error_code ec;
    fs::rename(tmp, file, ec);
    if (ec) {
        fs::remove(tmp, ec);
        throw std::runtime_error(shownAs + ": " + ec.message());
    }
}

} // namespace zelvox
