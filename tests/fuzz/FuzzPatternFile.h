#pragma once
// Fuzz body: a pattern file. The input is the file's bytes; it is loaded as File -> "Load
// pattern" loads the chosen file (the window's load, with every control's change handler),
// then "Loop" is pressed and 20 buffers are pulled through the chain (render loop, echo) as
// the output device pulls them.
//
// The same bytes then go to a host's synth object (PatternSynth::LoadState) and 8,820 samples
// are rendered in uneven blocks: a short input is refused, every control stays in its range
// and the rendering neither crashes nor misbehaves under the sanitizers.
//
// What must hold: a file shorter than one record is refused with "Read beyond end of file";
// any longer file loads and every control stays inside its range; the chain delivers a whole
// buffer each time; every sample the render loop writes is a valid 16-bit value in
// -32767..32767 (the engine's output is symmetric and never -32768). The echo after it clips
// its sums to -32768..32767, so there -32768 is a legitimate result.

#include <cstdint>
#include <cstring>
#include <string>

#include "program/PatternFileCommands.h"
#include "files/PatternFileFormat.h"
#include "program/HeadlessProgram.h"
#include "fuzz/FuzzFiles.h"
#include "fuzz/FuzzInput.h"
#include "engine/Tables.h"
#include "synth/PatternSynth.h"

namespace zelvox::fuzz {

// Loads the bytes into a host's synth and plays them.
inline void PatternStateInto(PatternSynth& synth, const uint8_t* data, size_t size) {
    auto check = [](bool ok, const char* what) { FuzzCheck(ok, "pattern state", what); };
    NoiseSeed = 0;
    const bool loaded = synth.LoadState(data, size);
    check(loaded == (size >= kPatternFileSize), "a state was refused or taken wrongly");
    for (const ControlRow& row : kControls) {
        const int32_t v = synth.Control(row.Id);
        check(v >= row.Min && v <= row.Max, "a control outside its range");
    }
    static int16_t out[PatternSynth::kMaxFrames];
    synth.Start();
    for (uint32_t done = 0, block = 1; done < 8820; done += block, block = block * 7 % 1013 + 1)
        synth.Render(out, block);
    synth.Stop();
}

// Loads and plays one file in the program p.
inline void PatternFileInto(HeadlessProgram& p, const uint8_t* data, size_t size) {
    auto check = [](bool ok, const char* what) { FuzzCheck(ok, "pattern file", what); };
    const auto path = ScratchDir::Get() / "chosen.zvx";
    WriteBytes(path, data, size);
    NoiseSeed = 0; // as at start-up, so that the noise voice plays the same for the same file

    try {
        p.Load(path.string());
    } catch (const EInOutError& e) {
        check(size < kPatternFileSize, "a whole record was refused");
        check(std::strncmp(e.what(), "Read beyond end of file: ", 25) == 0, "unexpected refusal text");
        return;
    }
    check(size >= kPatternFileSize, "a short file was loaded");
    MainForm& f = p.Form;
    EnvelopeForm& e = p.Envelopes;
    for (const ValueControl* c :
         {(ValueControl*)&f.MMWheel1, (ValueControl*)&f.MMWheel2, (ValueControl*)&f.MMWheel3,
          (ValueControl*)&f.MMWheel4, (ValueControl*)&f.MMWheel5, (ValueControl*)&f.MMWheel6,
          (ValueControl*)&f.MMWheel7, (ValueControl*)&f.MMWheel8, (ValueControl*)&f.MMWheel9,
          (ValueControl*)&f.MMWheel10, (ValueControl*)&f.MMWheel11, (ValueControl*)&f.MMWheel12,
          (ValueControl*)&f.MMWheel13, (ValueControl*)&f.MMWheel14, (ValueControl*)&f.MMWheel15,
          (ValueControl*)&f.MMWheel16, (ValueControl*)&f.MMWheel17, (ValueControl*)&f.SpinEdit971,
          (ValueControl*)&f.SpinEdit972, (ValueControl*)&e.SpinEdit971,
          (ValueControl*)&e.SpinEdit972, (ValueControl*)&e.SpinEdit973,
          (ValueControl*)&e.SpinEdit974})
        check(c->Value() >= c->Min() && c->Value() <= c->Max(), "a control outside its range");
    for (int k = 1; k <= 16; ++k)
        for (const ValueControl* c : {(ValueControl*)&f.PhrasePatternSpin(k),
                                      (ValueControl*)&f.PhraseCountSpin(k)})
            check(c->Value() >= c->Min() && c->Value() <= c->Max(), "a phrase outside its range");

    // The render loop is the chain head's OnBufferLoad: look at its samples before the echo.
    auto render = p.Chain.MMWaveout1.OnBufferLoad;
    struct Restore {
        TMMDSPInterface& head;
        decltype(render)& saved;
        ~Restore() { head.OnBufferLoad = saved; }
    } restore{p.Chain.MMWaveout1, render};
    p.Chain.MMWaveout1.OnBufferLoad = [&](TObject* sender, PWaveHdr h, bool& more) {
        render(sender, h, more);
        check(h->dwBytesRecorded <= h->dwBufferLength, "the render loop overfilled a buffer");
        const auto* s = reinterpret_cast<const uint8_t*>(h->lpData);
        bool symmetric = true;
        for (uint32_t i = 0; i + 1 < h->dwBytesRecorded; i += 2)
            symmetric &= int16_t(uint16_t(s[i] | s[i + 1] << 8)) != -32768;
        check(symmetric, "the render loop wrote -32768");
    };
    p.Form.Button1Click(); // "Loop"
    for (int b = 0; b < 20 && p.Out.Playing(); ++b) {
        check(p.Out.Pull(), "the chain delivered no buffer while playing");
        const TMMWaveHdr* h = p.Out.LastBuffer();
        check(h->dwBytesRecorded == 882, "a buffer of the wrong length");
    }
    p.Form.Button2Click(); // "Stop"
}

// A fresh program for the file: what the unit tests replay, so that a finding replays alone.
inline void PatternFileOne(const uint8_t* data, size_t size) {
    HeadlessProgram p;
    PatternFileInto(p, data, size);
    PatternSynth synth;
    synth.Activate();
    PatternStateInto(synth, data, size);
}

// The fuzzer's entry: one program serves every input, as one session of the program serves
// file after file (building the window, its chain and tables takes longer than loading and
// playing a file). The echo's memory is cleared at every start and the noise generator set
// back; the voices' filter memories carry over from one file to the next, as in the program.
inline void PatternFileInSession(const uint8_t* data, size_t size) {
    static HeadlessProgram& session = *new HeadlessProgram; // lives to the end of the process
    PatternFileInto(session, data, size);
    static PatternSynth& synth = [] () -> PatternSynth& {
        auto* s = new PatternSynth;
        s->Activate();
        return *s;
    }();
    PatternStateInto(synth, data, size);
}

} // namespace zelvox::fuzz
