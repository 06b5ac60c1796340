#pragma once
// zelvox-render --rate: the render's WAV files at another rate than 44,100 Hz. The render
// writes them at 44,100 Hz under their hidden names as always; before they get their own
// names, each is converted in place (synth/RateStage's converter, without delay), so the
// mix and the stems stay sample-aligned and a failure still leaves nothing behind.

#include <cstdint>
#include <filesystem>
#include <string>

namespace zelvox {

// Empty when the render's targets can take a converted file; otherwise why not: the
// conversion needs files, not a device, a pipe or standard output.
std::string RateTargetProblem(const std::string& mix, const std::string& stemsDir);

// Converts the program's 16-bit mono 44,100 Hz WAV file `file` to `rate` Hz, in the same
// layout, replacing it. Throws std::runtime_error naming the file.
void ConvertWavToRate(const std::filesystem::path& file, uint32_t rate);

} // namespace zelvox
