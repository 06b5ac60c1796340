#pragma once
// The window's model on a plugin instance it does not own: the desktop program's main window
// and envelope dialog edit their own copy of the synth, and this link keeps the plugin in
// step with it over the window's messages (synth/WindowWire.h), as LiveRig does for the
// low-latency player.
//
// - Out: a knob or spin edit the user turns is a control port write (hosts record it as
//   automation); the edit mode, edit step, pattern and song are port writes too; each edit
//   of the patterns, song and knobs goes as what it is (synth/SynthEdit.h), and what an edit
//   cannot say (a load, undo) as the whole state, which the plugin applies from its next
//   step. Nothing goes out before the plugin's own state has come in, so a window that never
//   heard from the plugin cannot overwrite it.
// - Gestures: the first turn of a control port says Touch on before its write; Touch off
//   follows once no mouse button is held and the control rested kGesturePause, so a drag, a
//   wheel burst or a run of keys is one gesture (hosts record Touch and Latch automation
//   between the two).
// - In: the plugin's state (at start, after the host restored it or loaded a file) becomes
//   the window's; a port the host moved moves its knob (its first value is only noted, as
//   the plugin does); the steps the plugin plays light the LEDs.
// Plain code on the window's thread, without I/O: the caller moves the messages.

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

#include "plugin/Ports.h"
#include "program/ProgramCore.h"
#include "synth/WindowWire.h"
#include "ui/OutputDevice.h"

namespace zelvox {

class PluginLink final : public TransportDevice {
public:
    explicit PluginLink(ProgramCore& core);
    ~PluginLink() override;
    PluginLink(const PluginLink&) = delete;
    PluginLink& operator=(const PluginLink&) = delete;

    void Receive(const wire::Message& m);
    // What to send now; call it before handling what came in, and every few tens of ms.
    std::vector<wire::Message> Outgoing();
    bool Synced() const { return Synced_; }

    // Show and Hide from the host.
    std::function<void(bool)> OnShow;
    // Seconds on a steady clock, and whether a mouse button is held (a drag goes on while it
    // is); the window gives them, tests give their own.
    std::function<double()> Now;
    std::function<bool()> Holding;
    static constexpr double kGesturePause = 0.4; // s: longer than the gap between wheel notches

    // The window's Loop and Stop: the plugin's "run" port (the host's transport, when it
    // rolls, plays regardless).
    void Start() override {
        if (Applying_ == 0) Run_ = 1;
    }
    void Stop() override {
        if (Applying_ == 0) Run_ = 0; // not when it shows the plugin's own stop
    }

private:
    static constexpr uint32_t kCount = lv2::kControlPortCount;
    ValueControl* ControlOfPort(uint32_t i) const;
    int32_t Queued() const;
    void Rebase();
    void Note(const SynthEdit& edit);

    ProgramCore& Core_;
    bool Synced_ = false;
    int Applying_ = 0; // the link itself is setting controls
    std::array<float, kCount> Port_{};
    std::array<bool, kCount> PortSeen_{};
    std::array<bool, kCount> Turned_{};
    std::array<bool, kCount> Touching_{};
    std::array<double, kCount> LastTurn_{}; // s, on Now's clock
    std::vector<std::vector<uint8_t>> Edits_; // made since the last Outgoing, as sent
    bool WholePending_ = false;               // the whole state goes instead
    int32_t Pattern_ = 0;
    bool Song_ = false;
    int Run_ = -1; // -1 nothing to say
    static constexpr double kRestartPause = 0.1; // s: Run off, then on, a host block apart
    bool StoppedItself_ = false; // the plugin stopped (its song ended) with Run on
    double RestartAt_ = 0.0;     // s on Now's clock: Run goes on again then (0: not waiting)
};

} // namespace zelvox
