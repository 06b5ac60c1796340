#pragma once
// The renderer's stem files: each voice alone and the echo return, one WAV file each in a
// folder, written beside the mix in the mix's format and header layout (the same wave
// object writes them). Like the mix, each file is written under a hidden name and gets its
// own name only when the whole render succeeded; a failure leaves none of them behind. A
// stem's name that is a device or a pipe is written directly, a link's file is replaced.

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "files/MMFormat.h"
#include "files/MMWave.h"
#include "files/OutputTarget.h"

namespace zelvox {

// A hidden name in the target's folder for a file that is still being written:
// ".NAME.partNNNNNN", with a random number so that two renders never share one.
std::filesystem::path PartPathFor(const std::filesystem::path& target);

class StemFiles {
public:
    enum Stem { Bass, TwinT, Noise, Echo, Count };
    static constexpr const char* kNames[Count] = {"bass.wav", "twin-t.wav", "noise.wav",
                                                  "echo.wav"};
    // The names without their extension: a render in another format names its stems with
    // that format's extension (bass.flac).
    static constexpr const char* kBaseNames[Count] = {"bass", "twin-t", "noise", "echo"};

    // Makes the folder if it is missing (one level) and creates the four hidden files in
    // `format`. Throws std::runtime_error naming the folder or file; then nothing is left.
    // `knownBytes`: the sample bytes each stem will get when known (-1: not), for the
    // header of a stem that is a stream.
    // `extension`: what the stems' names end in (".wav"; ".flac" when they are encoded
    // before Commit).
    StemFiles(const std::string& dir, PWaveFormatEx format, int64_t knownBytes = -1,
              const std::string& extension = ".wav");
    // Without Commit: the hidden files are removed, and the folder too if it was made here
    // and is empty.
    ~StemFiles();
    StemFiles(const StemFiles&) = delete;
    StemFiles& operator=(const StemFiles&) = delete;

    // Appends `frames` 16-bit samples to one stem. Throws (naming the stem's file) when the
    // disk refuses them.
    void Append(Stem stem, const int16_t* samples, uint32_t frames);
    // Finalises the four files. Throws when a file could not be completed.
    void Finish();
    // Gives each finished file its own name (replacing an older one).
    void Commit();

    // The name the stem gets at Commit.
    std::filesystem::path PathOf(Stem stem) const { return Dir_ / (kBaseNames[stem] + Ext_); }
    // The hidden file a stem is written to until Commit.
    const std::filesystem::path& PartOf(Stem stem) const { return Parts_[stem]; }
    bool IsStream(Stem stem) const { return Parts_[stem].empty(); }

private:
    void Discard();
    [[noreturn]] void Fail(Stem stem, const std::string& why) const;

    std::filesystem::path Dir_;   // absolute
    std::filesystem::path Named_; // as the caller wrote it, for messages
    std::string Ext_;             // ".wav", ".flac", ".ogg"
    bool MadeDir_ = false;
    bool Committed_ = false;
    std::array<TMMWave, Count> Waves_;
    std::array<std::filesystem::path, Count> Parts_;   // hidden files (empty for a stream)
    std::array<std::filesystem::path, Count> Targets_; // what each replaces (a link's file)
    std::array<int64_t, Count> Bytes_{}; // sample bytes appended
    std::vector<uint8_t> Scratch_;       // one buffer of samples in little-endian order
};

} // namespace zelvox
