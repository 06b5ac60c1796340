#pragma once
// Fuzz body: the pattern file's bytes decoded and taken into a synth's store and globals,
// with no sound made. Fast enough for millions of inputs; FuzzPatternFile.h plays them too.
//
// The contours are left as the synth has them (see below).
//
// What must hold: fewer than one record's bytes are refused and change nothing; a record
// decodes and encodes back to the same bytes (the unused pattern slot 0 and phrase entry 0
// read as zeros); taken into the synth every control lies in its range and every phrase is
// one a song can play; the synth's state, saved and loaded again, saves the same bytes.

#include <cstdint>
#include <cstring>
#include <vector>

#include "files/PatternFileFormat.h"
#include "fuzz/FuzzInput.h"
#include "synth/PatternSynth.h"

namespace zelvox::fuzz {

inline void PatternDecodeInto(PatternSynth& synth, const uint8_t* data, size_t size) {
    auto check = [](bool ok, const char* what) { FuzzCheck(ok, "pattern decode", what); };
    static PatternFileRecord r;
    static std::vector<uint8_t> before(kPatternFileSize), again(kPatternFileSize),
        after(kPatternFileSize);
    if (size < kPatternFileSize) {
        synth.SaveStateInto(before.data(), r);
        check(!synth.LoadState(data, size), "a short record was taken");
        synth.SaveStateInto(after.data(), r);
        check(after == before, "a refused record changed the state");
        return;
    }
    DecodePatternFile(data, r);
    EncodePatternFile(r, again.data());
    constexpr size_t kSlot0 = 16 * sizeof(StepRecord), kPhrase0 = kPatternFilePhrases, kEnd0 = kPhrase0 + 8;
    static const std::vector<uint8_t> zeros(kSlot0);
    check(std::memcmp(again.data(), zeros.data(), kSlot0) == 0 &&
              std::memcmp(again.data() + kPhrase0, zeros.data(), kEnd0 - kPhrase0) == 0,
          "an unused slot encoded as other than zeros");
    check(std::memcmp(again.data() + kSlot0, data + kSlot0, kPhrase0 - kSlot0) == 0 &&
              std::memcmp(again.data() + kEnd0, data + kEnd0, kPatternFileSize - kEnd0) == 0,
          "decode and encode differ");

    // Taken with the contours the synth has: a changed contour rebuilds its curve table,
    // which is the engine's work (FuzzPatternFile.h does it) and would take most of the time.
    // Their values are checked as the synth would take them.
    static std::vector<uint8_t> record(kPatternFileSize);
    std::memcpy(record.data(), data, kPatternFileSize);
    for (const ControlRow& row : kControls) {
        if (row.File < FileKnob::BassAttackContour || row.File > FileKnob::NoiseDecayContour)
            continue;
        const int32_t v = ClampToControl(row.Id, FileKnobField(r, row.File));
        check(v >= row.Min && v <= row.Max, "a contour outside its range");
        const auto now = uint32_t(synth.Control(row.Id));
        uint8_t* at = record.data() + kPatternFileKnobs + 4 * size_t(row.File);
        for (int b = 0; b < 4; ++b) at[b] = uint8_t(now >> (8 * b));
    }
    check(synth.LoadState(record.data(), record.size()), "a whole record was refused");
    for (const ControlRow& row : kControls) {
        const int32_t v = synth.Control(row.Id);
        check(v >= row.Min && v <= row.Max, "a control outside its range");
    }
    for (int k = 1; k <= kPhraseCount; ++k) {
        const PhraseEntry& e = synth.Seq.Phrases[size_t(k)];
        check(e.Pattern >= 0 && e.Pattern <= 16 && e.Count >= 0 && e.Count <= kPhraseCountMax,
              "a phrase a song cannot play");
    }
    synth.SaveStateInto(before.data(), r);
    check(synth.LoadState(before.data(), before.size()), "the saved state was refused");
    synth.SaveStateInto(after.data(), r);
    check(after == before, "the saved state does not load back as itself");
}

// A fresh synth for the bytes: what the unit tests replay.
inline void PatternDecodeOne(const uint8_t* data, size_t size) {
    PatternSynth synth;
    PatternDecodeInto(synth, data, size);
}

// The fuzzer's entry: one synth takes record after record, as a host's instance does.
inline void PatternDecodeInSession(const uint8_t* data, size_t size) {
    static PatternSynth& synth = *new PatternSynth; // lives to the end of the process
    PatternDecodeInto(synth, data, size);
}

} // namespace zelvox::fuzz
