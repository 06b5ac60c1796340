#pragma once
// The renderer's file formats beside the program's own 16-bit WAV: FLAC, Ogg Vorbis and
// 24-bit WAV or FLAC, through libsndfile. The render writes its 16-bit WAV files as always
// (so a 16-bit WAV stays byte for byte what it was); before they get their names, each is
// encoded in place into the format asked for, so a failure still leaves nothing behind.
// The samples are the 16-bit render's: FLAC holds them exactly, a 24-bit file holds each
// one times 256, Ogg Vorbis is lossy.

#include <cstdint>
#include <filesystem>
#include <string>

namespace zelvox {

enum class AudioFileKind : uint8_t { Wav, Flac, Ogg };

struct AudioFileFormat {
    AudioFileKind Kind = AudioFileKind::Wav;
    int32_t Bits = 16; // 16 or 24 (WAV and FLAC)
    // The program's own writer's format: nothing to encode.
    bool Plain() const { return Kind == AudioFileKind::Wav && Bits == 16; }
};

// By the name's extension, in any case: .flac, .ogg or .oga, anything else WAV.
AudioFileKind AudioFileKindOf(const std::string& name);
// ".wav", ".flac", ".ogg": what the stems' names end in.
const char* AudioFileExtension(AudioFileKind kind);
// "WAV", "FLAC", "Ogg Vorbis".
const char* AudioFileKindName(AudioFileKind kind);

// Empty when the format can be written; otherwise why not (24 bits in Ogg Vorbis).
std::string AudioFormatProblem(const AudioFileFormat& format);

// Encodes the program's 16-bit WAV file `file` into `format`, replacing it. Throws
// std::runtime_error starting with `shownAs` (the name the user gave).
void EncodeWavFile(const std::filesystem::path& file, const AudioFileFormat& format,
                   const std::string& shownAs);

} // namespace zelvox
