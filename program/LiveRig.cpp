#include "program/LiveRig.h"

#include "files/MMFormat.h"
#include "files/OutputTarget.h"
#include "program/MidiKnobs.h"
#include "ui/MidiLearn.h"

#include <array>
#include <chrono>
#include <filesystem>
#include <stdexcept>

namespace zelvox {

LiveRig::LiveRig(MainForm& form, const TSettingsFile& settings, const std::string& clientName)
    : Form_(form), ClientName_(clientName), Connect_(ReadAudioBackendChoice(settings).Connect) {
    MidiSent_.Controllers = ReadControllerTable(settings);
    Live.SetControllers(MidiSent_.Controllers);
    MidiLearn learned(settings);
    learned.Load();
    MidiSent_.Learned = learned.Lookup();
    Live.SetLearned(MidiSent_.Learned);
    MidiSent_.Channel = settings.ReadInteger("MIDI", "CHANNEL", 0);
    Live.Post({LiveCommand::Kind::MidiChannel, MidiSent_.Channel == 0 ? -1 : MidiSent_.Channel});
    PublishWhole();
    Out_ = std::make_unique<JackLiveOutput>(Live, clientName, Connect_);
    SetSync(ReadLiveSync(settings));
    // Only a rig that started hears the window: one whose output failed is gone.
    Form_.OnSynthEdit = [this](const SynthEdit& e) { Hand(e); };
    Form_.SetTransportDevice(this);
}

void LiveRig::SetSync(const LiveSync& sync) {
    const bool wasMaster = Sync_.TimebaseMaster;
    const bool followClock = sync.FollowClock && !sync.FollowTransport;
    Live.Post({LiveCommand::Kind::FollowTransport, sync.FollowTransport ? 1 : 0});
    Live.Post({LiveCommand::Kind::FollowClock, followClock ? 1 : 0});
    Live.Post({LiveCommand::Kind::SendClock, sync.SendClock ? 1 : 0});
    Live.Post({LiveCommand::Kind::NoteChannels,
               PackNoteChannels({sync.NotesBassChannel, sync.NotesTwinTChannel, sync.NotesNoiseChannel,
                                 sync.NotesTwinTNote, sync.NotesNoiseNote})});
    Live.Post({LiveCommand::Kind::NotesOut, sync.SendNotes ? 1 : 0});
    Following_ = sync.FollowTransport || followClock;
    Sync_ = sync;
    Sync_.FollowClock = followClock;
    if (!sync.TimebaseMaster) {
        if (wasMaster) Out_->ReleaseTimebase();
    } else if (!wasMaster && !Out_->BecomeTimebaseMaster()) {
        Sync_.TimebaseMaster = false;
        throw std::runtime_error("another program is the JACK transport's timebase master");
    }
}

LiveRig::~LiveRig() {
    EndRecording();
    Form_.OnSynthEdit = nullptr;
    Form_.SetTransportDevice(nullptr);
    Form_.SetRecordingSink(nullptr);
}

void LiveRig::ArmRecording(const std::string& fileName) {
    EndRecording();
    // As on the other outputs: a file there that is not a wave file is left alone.
    const std::string full = ExpandFileName(fileName);
    std::error_code ec;
    OutputTarget where;
    std::string why;
    // A device or a pipe is written to as it is (reading a pipe would wait for a writer).
    const bool stream = ResolveOutputTarget(full, false, where, why) && where.IsStream();
    if (!full.empty() && !stream &&
        std::filesystem::exists(std::filesystem::symlink_status(full, ec)) && !ReadWaveLayout(full))
        throw EMMWaveError("Invalid wave file...");
    const auto format = PcmWaveFormat(16, 1, kSampleRate);
    Wave_.CreateWaveFile(fileName, &format);
    Armed_ = true;
    Form_.SetRecordingSink(this);
    // Samples the JACK thread queued after the last recording ended belong to no file.
    std::array<int16_t, 4096> stale{};
    while (Out_->TakeRecorded(stale.data(), stale.size()) > 0) {
    }
    Writing_ = true;
    Out_->SetRecording(true);
    Writer_ = std::thread([this] { WriteRecording(); });
}

void LiveRig::EndRecording() {
    if (!Writer_.joinable()) return;
    Out_->SetRecording(false);
    Writing_ = false;
    Writer_.join();
    Wave_.CloseWaveFile();
    Armed_ = false;
}

// The disk thread: empties the queue into the file until recording ends, then the rest.
void LiveRig::WriteRecording() {
    std::vector<int16_t> samples(8192);
    std::vector<uint8_t> bytes(samples.size() * 2);
    for (;;) {
        const bool more = Writing_.load();
        const size_t n = Out_->TakeRecorded(samples.data(), samples.size());
        for (size_t i = 0; i < n; ++i) {
            bytes[2 * i] = static_cast<uint8_t>(static_cast<uint16_t>(samples[i]) & 0xFF);
            bytes[2 * i + 1] = static_cast<uint8_t>(static_cast<uint16_t>(samples[i]) >> 8);
        }
        if (n > 0 && Wave_.AtSizeLimit(int32_t(2 * n))) {
            // The file's 32-bit sizes, not the disk: it keeps what it has, finalised at the end.
            if (WriteProblem_.empty())
                WriteProblem_ = "a WAV file holds at most " +
                                WavLimitText(Wave_.MaxDataBytes, PcmWaveFormat(16, 1, kSampleRate)) +
                                " of sound";
        } else if (n > 0 && Wave_.WriteData(bytes.data(), int32_t(2 * n)) != int32_t(2 * n) &&
                   WriteProblem_.empty()) {
            WriteProblem_ = "the disk refused the recording";
        }
        if (n == 0) {
            if (!more) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
}

void LiveRig::PublishWhole() {
    Live.Publish(Form_.Synth, Seen_);
    PublishedSelected_ = Form_.Synth.SelectedNoteMode;
    PublishedEditStep_ = Form_.Synth.EditStep;
}

// An edit of the window, as it is made: as what it is, or the whole state when it is more.
void LiveRig::Hand(const SynthEdit& edit) {
    if (edit.What == SynthEdit::Kind::Whole || Live.Behind()) {
        PublishWhole();
        return;
    }
    Live.Edit(edit, Seen_);
    PublishedSelected_ = edit.SelectedNoteMode;
    PublishedEditStep_ = edit.EditStep;
}

void LiveRig::Reopen() {
    auto fresh = std::make_unique<JackLiveOutput>(Live, ClientName_, Connect_);
    EndRecording();
    Out_ = std::move(fresh);
    LostTold_ = false;
    // The timebase, when it was held, is asked for again on the new client.
    const LiveSync sync = Sync_;
    Sync_.TimebaseMaster = false;
    SetSync(sync);
}

void LiveRig::Start() {
    // A server that went away and came back: Loop or Play opens the output again.
    if (Out_->ServerGone()) Reopen();
    // The window's Loop/Play: what it shows now is what plays, from step 1. Following the
    // JACK transport or MIDI clock, those start it; the window shows what plays.
    PublishWhole();
    if (Following_) return;
    PostedSong_ = Form_.Synth.Seq.SongMode();
    Live.Post({LiveCommand::Kind::SongMode, PostedSong_ ? 1 : 0});
    PostedQueued_ = Form_.Synth.Seq.PlayPattern;
    Live.Post({LiveCommand::Kind::ChoosePattern, PostedQueued_});
    Live.Post({LiveCommand::Kind::Start, 0});
}

void LiveRig::Stop() {
    if (Following_) return;
    Live.Post({LiveCommand::Kind::Stop, 0});
}

void LiveRig::Pump() {
    if (Out_->ServerGone()) {
        if (LostTold_) return;
        LostTold_ = true;
        EndRecording(); // the file keeps what was played
        if (Form_.Synth.Seq.Playing()) Form_.ShowPlayStopped();
        if (OnLost)
            OnLost("The JACK server has gone away: the low-latency output stopped. Once the server "
                   "is back, Loop or Play starts it again.");
        return;
    }
    Out_->ReportLatency();
    LiveEvent e;
    while (Live.Poll(e)) {
        switch (e.What) {
        case LiveEvent::Kind::StepBegan:
            // Following another clock, the window shows the play that clock started.
            if (Following_ && !Form_.Synth.Seq.Playing()) Form_.Synth.Seq.Start();
            if (Form_.Synth.Seq.Playing()) Form_.ShowPlayedStep(e.A, e.B);
            break;
        case LiveEvent::Kind::PhraseBegan:
            if (Form_.Synth.Seq.Playing() && e.A >= 1 && e.A <= 16) Form_.ShowPlayedPhrase(e.A);
            break;
        case LiveEvent::Kind::Stopped:
            if (Form_.Synth.Seq.Playing()) Form_.ShowPlayStopped();
            break;
        case LiveEvent::Kind::ControlTurned:
            // The window's knob follows what MIDI did.
            if (ValueControl* c = Form_.ControlFor(static_cast<ControlId>(e.A))) c->SetValue(e.B);
            Seen_ = e.Seq;
            break;
        case LiveEvent::Kind::PatternChosen:
            // A note chose it there: the window's pattern button, pressed as by the user.
            if (e.A >= 1 && e.A <= 16) Form_.LEDButtonClick(e.A);
            break;
        case LiveEvent::Kind::Controller:
            if (OnController)
                OnController(uint8_t(e.A), uint8_t((e.B >> 8) & 0x7F), uint8_t(e.B & 0x7F));
            break;
        }
    }
    // The MIDI setup changed its table, channel or learned controllers.
    if (MidiSetupNow) {
        const MidiSetupState now = MidiSetupNow();
        if (now.Controllers != MidiSent_.Controllers) Live.SetControllers(now.Controllers);
        if (now.Learned.Control != MidiSent_.Learned.Control) Live.SetLearned(now.Learned);
        if (now.Channel != MidiSent_.Channel)
            Live.Post({LiveCommand::Kind::MidiChannel, now.Channel == 0 ? -1 : now.Channel});
        if (!(now.NotesIn == MidiSent_.NotesIn))
            Live.Post({LiveCommand::Kind::NotesIn, PackNotesIn(now.NotesIn)});
        MidiSent_ = now;
    }
    // A pattern chosen while playing waits for the pattern end, there as here.
    const int32_t queued = Form_.Synth.Seq.Playing() ? Form_.Synth.Seq.QueuedPattern
                                                     : Form_.Synth.Seq.PlayPattern;
    if (queued != PostedQueued_ && queued >= 1) {
        PostedQueued_ = queued;
        Live.Post({LiveCommand::Kind::ChoosePattern, queued});
    }
    // The window's swing plays there from the next step.
    if (Form_.Synth.Seq.Swing() != PostedSwing_) {
        PostedSwing_ = Form_.Synth.Seq.Swing();
        Live.Post({LiveCommand::Kind::Swing, PostedSwing_});
    }
    if (Form_.Synth.Seq.SongMode() != PostedSong_) {
        PostedSong_ = Form_.Synth.Seq.SongMode();
        Live.Post({LiveCommand::Kind::SongMode, PostedSong_ ? 1 : 0});
    }
    // The edit mode or step moved without an edit; a queue that was full catches up.
    if (Live.Behind()) {
        PublishWhole();
    } else if (PublishedSelected_ != Form_.Synth.SelectedNoteMode ||
               PublishedEditStep_ != Form_.Synth.EditStep) {
        SynthEdit moved;
        moved.What = SynthEdit::Kind::Position;
        moved.SelectedNoteMode = Form_.Synth.SelectedNoteMode;
        moved.EditStep = Form_.Synth.EditStep;
        Hand(moved);
    }
}

} // namespace zelvox
