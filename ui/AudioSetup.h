#pragma once
// The audio setup dialog's logic ("Audio setup": how many 10 ms buffers the output device
// queues). The window that shows these controls is the desktop program's; everything the
// dialog does lives here so that it works, and is tested, without one.

#include <functional>

#include "audio/MMWavOut.h"
#include "audio/Settings.h"
#include "ui/Controls.h"

namespace zelvox {

class TAudioSetupForm {
public:
    static constexpr int32_t kDefaultBuffers = 40;
    static constexpr int32_t kBufferBytes = 882; // 441 samples, 10 ms

    // Device: the main window's output device (MMWaveOut2). Settings: the settings file.
    TAudioSetupForm(TMMWaveOut& device, const TSettingsFile& settings);

    const std::string Caption = "Audio setup";
    Label Label1{"Label1", "Audio buffer size"};
    Label Label2{"Label2", "Min"};
    Label Label3{"Label3", "Max"};
    ValueControl TrackBar1{"TrackBar1", 1, 120, kDefaultBuffers};
    Button Button1{"Button1", "OK"};
    Button Button2{"Button2", "Cancel"};

    // At program start: "Audio"/"Buffers" (default 40) onto the slider, which clamps it to
    // 1..120; the device gets the slider's position as NumBuffers and 882-byte buffers.
    void FormCreate();
    // "OK": Stop, Close, NumBuffers := position, Reset, Open on the device, then the position
    // is written to the file and the dialog closes. A device error propagates out (the file
    // is not written and the dialog stays open); so does "Unable to write to %s".
    void Button1Click();
    // "Cancel": closes the dialog; the slider keeps its position.
    void Button2Click();

    // Raised when the dialog closes itself (the window hides).
    std::function<void()> OnHide;

private:
    TMMWaveOut& Device_;
    const TSettingsFile& Settings_;
};

} // namespace zelvox
