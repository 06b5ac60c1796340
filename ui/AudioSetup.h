#pragma once
// The audio setup dialog's logic ("Audio setup": how many 10 ms buffers the output device
// queues, and which sound system and device it plays through). The window that shows these
// controls is the desktop program's; everything the dialog does lives here so that it works,
// and is tested, without one.

#include <functional>
#include <string>
#include <vector>

#include "devices/AudioBackend.h"
#include "audio/MMWavOut.h"
#include "settings/Settings.h"
#include "ui/Controls.h"

namespace zelvox {

class TAudioSetupForm {
public:
    static constexpr int32_t kDefaultBuffers = 40;
    static constexpr int32_t kBufferBytes = 882; // 441 samples, 10 ms
    static constexpr int32_t kBufferMs = 10;

    // Device: the main window's output device (MMWaveOut2). Settings: the settings file.
    // Probe: what finds the sound systems and devices present and makes a device list.
    TAudioSetupForm(TMMWaveOut& device, const TSettingsFile& settings,
                    AudioOutputProbe probe = RealAudioOutputProbe());

    const std::string Caption = "Audio setup";
    Label Label1{"Label1", "Audio buffer size"};
    Label Label2{"Label2", "Min"};
    Label Label3{"Label3", "Max"};
    ValueControl TrackBar1{"TrackBar1", 1, 120, kDefaultBuffers};
    Label Label4{"Label4", LatencyText(kDefaultBuffers)}; // the sound queued: "400 ms"
    Label Label5{"Label5", "Sound system"};
    ComboBox ComboBox1{"ComboBox1"}; // "Automatic", then the systems present
    Label Label6{"Label6", "Device"};
    ComboBox ComboBox2{"ComboBox2"}; // "Default", then the chosen system's devices
    // How the low-latency JACK output keeps time (usable while it is the chosen system).
    Label Label7{"Label7", "Keep time with other programs"};
    CheckBox CheckBox1{"CheckBox1", "Follow JACK transport"};
    CheckBox CheckBox2{"CheckBox2", "Follow MIDI clock"};
    CheckBox CheckBox3{"CheckBox3", "Send MIDI clock"};
    CheckBox CheckBox4{"CheckBox4", "Timebase master"};
    // The sequence as MIDI notes on midi_out: the channels and the drums' notes.
    CheckBox CheckBox5{"CheckBox5", "Send MIDI notes"};
    // A JACK output connects itself to the speakers when it opens ([Audio] Connect).
    CheckBox CheckBox6{"CheckBox6", "Connect to speakers"};
    Label Label8{"Label8", "Channels"};
    Label Label9{"Label9", "Bass"};
    SpinEdit SpinEdit1{"SpinEdit1", 1, 16, 1};
    Label Label10{"Label10", "Twin-T"};
    SpinEdit SpinEdit2{"SpinEdit2", 1, 16, 10};
    Label Label11{"Label11", "Noise"};
    SpinEdit SpinEdit3{"SpinEdit3", 1, 16, 10};
    Label Label12{"Label12", "Notes"};
    Label Label13{"Label13", "Twin-T"};
    SpinEdit SpinEdit4{"SpinEdit4", 0, 127, 36};
    Label Label14{"Label14", "Noise"};
    SpinEdit SpinEdit5{"SpinEdit5", 0, 127, 42};
    Button Button1{"Button1", "OK"};
    Button Button2{"Button2", "Cancel"};

    // "400 ms" for 40 buffers of 10 ms.
    static std::string LatencyText(int32_t buffers);
    void ShowLatency();

    // At program start: "Audio"/"Buffers" (default 40) onto the slider, which clamps it to
    // 1..120; the device gets the slider's position as NumBuffers and 882-byte buffers. The
    // sound system and device in use are the settings file's "API" and "Device".
    void FormCreate();
    // Before the dialog is shown: finds the systems present and their devices (this asks
    // the sound servers, so it is not done at start-up) and selects the choice in use. A
    // choice that is not present now stays in the lists, marked "(not found)".
    void FormShow();
    // A sound system chosen: the device list becomes that system's; the time-keeping boxes
    // are usable for the low-latency JACK output only.
    void ComboBox1Change();
    // The boxes as ticked. Following the JACK transport and following MIDI clock exclude
    // each other: ticking one clears the other.
    LiveSync ChosenSync() const;
    // "OK": Stop and Close the device; a sound system or device other than the one in use
    // gives the device a new device list; NumBuffers := position, Reset, Open; then the
    // position (and a changed system and device, and changed time-keeping) are written to
    // the file and the dialog closes. A device error propagates out (the file is not written and the dialog stays
    // open); so does "Unable to write to %s".
    void Button1Click();
    // "Cancel": closes the dialog; the slider and lists keep their positions.
    void Button2Click();

    // The system and device the lists show, and the ones the device plays through.
    AudioBackendChoice Chosen() const;
    const AudioBackendChoice& InUse() const { return InUse_; }

    // Raised when the dialog closes itself (the window hides).
    std::function<void()> OnHide;
    // After OK chose another sound output: the program may open an output of its own for
    // it (the low-latency JACK output).
    std::function<void(const AudioBackendChoice&)> OnOutputChosen;
    // After OK changed how the low-latency output keeps time (it may fail: another program
    // holds the JACK timebase; the message is the reason).
    std::function<void(const LiveSync&)> OnSyncChosen;

private:
    TMMWaveOut& Device_;
    const TSettingsFile& Settings_;
    AudioOutputProbe Probe_;
    AudioBackendChoice InUse_;
    std::vector<std::string> ApiKeys_;     // per ComboBox1 item
    std::vector<std::string> DeviceNames_; // per ComboBox2 item; "" = the system's default
};

} // namespace zelvox
