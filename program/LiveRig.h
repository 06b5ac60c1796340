#pragma once
// The window on the low-latency JACK output: the synth plays in the JACK process callback
// (LiveSynth, JackLiveOutput), the window's model stays the editor. It is the window's
// transport device. Each edit of the window goes over as it is made, as what it is (the
// whole state only for what an edit cannot say: a load, undo); Pump, called every few
// milliseconds on the main thread, hands over the edit mode and step, the transport's
// settings, and shows what the player reports (steps, pattern changes, the song's end, knobs
// that MIDI turned).

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "devices/AudioBackend.h"
#include "files/MMWave.h"
#include "settings/Settings.h"
#include "program/JackLiveOutput.h"
#include "synth/LiveSynth.h"
#include "ui/MainForm.h"
#include "ui/OutputDevice.h"

namespace zelvox {

class LiveRig final : public TransportDevice, public RecordingSink {
public:
    // Opens the JACK client (runtime_error with the reason when there is no server) and
    // becomes the form's transport device. MIDI controllers come through the client's
    // midi_in port, by the settings' controller table and learned controllers. The settings'
    // [Audio] keys FollowTransport, FollowClock, SendClock and TimebaseMaster (1: on) say how
    // it keeps time with other programs.
    LiveRig(MainForm& form, const TSettingsFile& settings,
            const std::string& clientName = DefaultJackClientName());
    ~LiveRig() override;
    LiveRig(const LiveRig&) = delete;
    LiveRig& operator=(const LiveRig&) = delete;

    // How it keeps time with other programs, changed while it runs (the settings' keys as
    // the constructor reads them). Throws runtime_error when another program is the
    // transport's timebase master.
    void SetSync(const LiveSync& sync);
    const LiveSync& Sync() const { return Sync_; }

    void Start() override;
    void Stop() override;

    // "Record to wav" on this output: the file is made now (replacing one of that name; a
    // failure throws with the file and the reason) and takes what plays from the next
    // Loop/Play until Stop. A disk thread writes it; the JACK thread only queues samples.
    void ArmRecording(const std::string& fileName);
    void EndRecording() override;
    bool Recording() const { return Writer_.joinable(); }

    // The main thread's share: edits out, news in; a server that went away is told once
    // (OnLost) and the play shown stopped. The next Start opens the client afresh.
    void Pump();
    // The callback's load as the DSP meter shows it (percent; 0 once the server is gone).
    int Usage() const { return Out_->ServerGone() ? 0 : static_cast<int>(Out_->Load() * 100.0f + 0.5f); }
    // Told once when the JACK server goes away, with the message for the user.
    std::function<void(const std::string& why)> OnLost;

    LiveSynth Live;
    JackLiveOutput& Output() { return *Out_; }

    // What the MIDI setup holds now: its controller table, channel filter (0 every channel)
    // and learned controllers. Pump hands a change to the player. Unset: the settings' at
    // start.
    struct MidiSetupState {
        CcTable Controllers{};
        int32_t Channel = 0;
        LearnLookup Learned = NoLearned();
        NotesInSetup NotesIn{}; // notes that transpose or choose patterns (off: nothing)
    };
    std::function<MidiSetupState()> MidiSetupNow;
    // A Control Change that came in at the client's midi_in (the window's MIDI learn listens).
    std::function<void(uint8_t status, uint8_t controller, uint8_t value)> OnController;

private:
    void PublishWhole();
    void Hand(const SynthEdit& edit);
    void WriteRecording();
    // A new client for the one whose server went away (runtime_error when none answers yet).
    void Reopen();

    MainForm& Form_;
    std::unique_ptr<JackLiveOutput> Out_;
    std::string ClientName_;
    bool Connect_ = true;  // the output goes to the speakers when it opens
    bool LostTold_ = false; // OnLost was called for the client Out_ holds
    bool PublishedSelected_ = false;
    int32_t PublishedEditStep_ = 0;
    int32_t PostedQueued_ = 0;
    bool PostedSong_ = false;
    int32_t PostedSwing_ = 0; // the player starts straight
    uint32_t Seen_ = 0;
    bool Following_ = false; // the JACK transport or MIDI clock starts and stops the play
    LiveSync Sync_;
    MidiSetupState MidiSent_;
    TMMWave Wave_;
    bool Armed_ = false;
    std::atomic<bool> Writing_{false};
    std::thread Writer_;
    std::string WriteProblem_;
};

} // namespace zelvox
