#pragma once
// The pattern file: one fixed 27,372-byte record, no header, little-endian, read and written
// field by field. Bytes 0..27199 are the pattern store image (slot 0 written as zeros and
// ignored on load), then the knob values, the envelope contours, tempo, steps and the phrase
// table (entry 0 written as zeros and ignored on load).

#include <array>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "sequencer/ControlTable.h"
#include "base/StepRecord.h"

namespace zelvox {

constexpr size_t kPatternFileSize = 27372;
constexpr size_t kPatternFileKnobs = 27200;   // offset of the Delay field
constexpr size_t kPatternFilePhrases = 27236; // offset of phrase entry 0

struct PatternFileRecord {
    PatternStore Store{};          // slot 0 stays zero
    int32_t Delay = 0;             // "Delay" knob, 0..16
    int32_t Depth = 0;             // "Depth" knob, 0..100
    int32_t Volume = 0;            // master "Volume" knob, 0..26125
    int32_t BassAttackContour = 0; // envelope dialog, 0..39
    int32_t BassDecayContour = 0;  // 0..40
    int32_t TwinTDecayContour = 0; // 0..39
    int32_t NoiseDecayContour = 0; // 0..39
    int32_t Tempo = 0;             // 20..240
    int32_t Steps = 0;             // 1..16
    struct Phrase {
        int32_t Pattern = 0;
        int32_t Count = 0;
    };
    std::array<Phrase, 17> Phrases{}; // entry 0 stays zero
};

// The knob block's fields by slot, in file order (Delay at byte 27200 ... Steps at 27232).
constexpr int kFileKnobCount = 9;
int32_t& FileKnobField(PatternFileRecord& r, FileKnob k);
int32_t FileKnobField(const PatternFileRecord& r, FileKnob k);

// One 100-byte step record, padding bytes included, as they are held.
void EncodeStepRecord(const StepRecord& s, uint8_t* out);
void DecodeStepRecord(const uint8_t* in, StepRecord& s);

// Exactly kPatternFileSize bytes.
std::vector<uint8_t> EncodePatternFile(const PatternFileRecord& r);
// The same into `out` (kPatternFileSize bytes), allocating nothing.
void EncodePatternFile(const PatternFileRecord& r, uint8_t* out);
// Reads the first kPatternFileSize bytes of `in`, which must hold at least that many.
void DecodePatternFile(const uint8_t* in, PatternFileRecord& r);

// A file operation failed; the text is the program's message for it ("File not found",
// "File access denied", "Read beyond end of file", "Disk full", "I/O error %d").
class EInOutError : public std::runtime_error {
public:
    EInOutError(const std::string& message, int code)
        : std::runtime_error(message), ErrorCode(code) {}
    int ErrorCode; // the system's error number, 0 for a short read
};

// Opens the file for reading only and reads one record; bytes after it are ignored.
// A shorter file: "Read beyond end of file". Nothing is changed by a failure.
std::vector<uint8_t> ReadPatternFileBytes(const std::string& path);

// Writes the bytes to a new file in the same folder, flushes it to disk and renames it over
// `path`, so a failure anywhere leaves the previous file as it was.
void WriteFileReplacing(const std::string& path, const std::vector<uint8_t>& bytes);

// Tests only: when set, called instead of rename(2) for the final step of
// WriteFileReplacing (returns 0, or -1 with errno set), to make that step fail on demand.
extern int (*PatternFileRenameForTesting)(const char* from, const char* to);

} // namespace zelvox
