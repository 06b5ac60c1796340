#pragma once
// A main window driven headless, as a user would: the form with a scripted output device
// that pulls 882-byte buffers on request, and a log of every step the engine loads.

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "audio/MMReverb.h"
#include "support/WindowModel.h"
#include "ui/MainForm.h"
#include "ui/OutputDevice.h"

namespace zelvox::test {

// Output device that plays nothing: Start/Stop only switch whether Pump() pulls buffers.
class FakeTransport : public TransportDevice {
public:
    void Start() override {
        ++Starts;
        Running = true;
    }
    void Stop() override {
        ++Stops;
        Running = false;
    }
    int Starts = 0;
    int Stops = 0;
    bool Running = false;
};

class FakeSink : public RecordingSink {
public:
    void EndRecording() override { ++Ends; }
    int Ends = 0;
};

// One step as the engine loaded it: the pattern and step the form pointed the engine at, and
// the note the engine took (recovered from the bass pitch it loaded; 0 = not a note pitch).
struct StepLoad {
    int32_t Pattern;
    int32_t Step;
    int32_t EngineNote;
    bool operator==(const StepLoad&) const = default;
};

inline void PrintTo(const StepLoad& l, std::ostream* os) {
    *os << "(pattern " << l.Pattern << ", step " << l.Step << ", note " << l.EngineNote << ")";
}

// The loads a pass over `steps` of `pattern` should give, each with the engine on `note`.
inline std::vector<StepLoad> Pass(int32_t pattern, int32_t note,
                                  std::initializer_list<int32_t> steps) {
    std::vector<StepLoad> v;
    for (int32_t s : steps) v.push_back({pattern, s, note});
    return v;
}

inline std::vector<StepLoad> Concat(std::initializer_list<std::vector<StepLoad>> parts) {
    std::vector<StepLoad> v;
    for (const auto& p : parts) v.insert(v.end(), p.begin(), p.end());
    return v;
}

// The note index whose pitch is exactly f, or 0.
int32_t NoteOfFreq(float f);

class FormHarness {
public:
    FormHarness();

    MainForm& F() { return *Form; }

    // One buffer through the render loop if the device is running; false otherwise.
    bool PumpBuffer();
    // Pull buffers until `count` further steps were loaded or the device stopped.
    void RenderSteps(size_t count);
    // Pull `buffers` buffers (fewer if the device stops).
    void RenderBuffers(size_t buffers);

    // Selects pattern p with its button (stopped) and sets every note slider to `note`.
    void SetPatternNotes(int p, int32_t note);

    std::unique_ptr<WindowModel> Window;
    MainForm* Form;
    FakeTransport Device;
    FakeSink Sink;
    TMMReverb Reverb; // with the main window's stored settings
    std::vector<StepLoad> Loads;
    std::vector<int16_t> LastBuffer = std::vector<int16_t>(441);
};

} // namespace zelvox::test
