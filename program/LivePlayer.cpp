#include "program/LivePlayer.h"

#include <algorithm>
#include <chrono>
#include <stdexcept>
#include <thread>

#include "engine/EngineState.h"
#include "program/JackLiveOutput.h"
#include "ui/MidiSetup.h"
#include "ui/MidiLearn.h"

namespace zelvox {

LivePlayer::LivePlayer(const TSettingsFile& settings) {
    Live.SetControllers(ReadControllerTable(settings));
    MidiLearn learned(settings); // the controllers learned in the window
    learned.Load();
    Live.SetLearned(learned.Lookup());
    // The MIDI setup's channel filter: 0 every channel, else the status byte's low nibble.
    const int32_t channel = settings.ReadInteger("MIDI", "CHANNEL", 0);
    Live.Post({LiveCommand::Kind::MidiChannel, channel == 0 ? -1 : channel});
}

void LivePlayer::TakeEvents(bool& ended) {
    LiveEvent e;
    bool turned = false;
    while (Live.Poll(e)) {
        if (e.What == LiveEvent::Kind::Stopped) ended = true;
        if (e.What == LiveEvent::Kind::ControlTurned) {
            // The program's synth follows what MIDI did, so that a later hand-over keeps it.
            if (e.A >= 0 && e.A < int32_t(kControlCount)) Synth.SetControl(static_cast<ControlId>(e.A), e.B);
            Seen_ = e.Seq;
            turned = true;
        }
    }
    if (turned) Live.Publish(Synth, Seen_);
}

LivePlayResult LivePlayer::Play(bool arranger, const LiveSync& sync, uint64_t maxFrames,
                                const std::function<bool()>& stop, const std::string& clientName,
                                int32_t startDelayMs, bool connect) {
    LivePlayResult r;
    if (arranger) Synth.SetSongMode(true);
    Live.Publish(Synth, Seen_);
    Live.Post({LiveCommand::Kind::SongMode, Synth.Seq.SongMode() ? 1 : 0});
    Live.Post({LiveCommand::Kind::ChoosePattern, std::max(1, Synth.Seq.PlayPattern)});
    Live.Post({LiveCommand::Kind::FollowTransport, sync.FollowTransport ? 1 : 0});
    Live.Post({LiveCommand::Kind::FollowClock, sync.FollowClock ? 1 : 0});
    Live.Post({LiveCommand::Kind::SendClock, sync.SendClock ? 1 : 0});
    Live.Post({LiveCommand::Kind::NoteChannels,
               PackNoteChannels({sync.NotesBassChannel, sync.NotesTwinTChannel, sync.NotesNoiseChannel,
                                 sync.NotesTwinTNote, sync.NotesNoiseNote})});
    Live.Post({LiveCommand::Kind::NotesOut, sync.SendNotes ? 1 : 0});
    try {
        JackLiveOutput out(Live, clientName, connect);
        r.Period = out.Period();
        if (sync.TimebaseMaster && !out.BecomeTimebaseMaster())
            throw std::runtime_error("Another program is the JACK transport's timebase master");
        auto serverGone = [&] {
            if (out.ServerGone())
                throw std::runtime_error("The JACK server has gone away; the low-latency output "
                                         "stopped");
        };
        // The output is there, silent, for the delay: a recorder can connect to it first.
        const auto startAt = std::chrono::steady_clock::now() + std::chrono::milliseconds(startDelayMs);
        bool asked = false;
        while (std::chrono::steady_clock::now() < startAt && !(asked = stop && stop())) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            serverGone();
        }
        if (!sync.FollowTransport && !sync.FollowClock && !asked) Live.Post({LiveCommand::Kind::Start, 0});
        const uint64_t before = out.PlayedNanos(), periodsBefore = out.Periods();
        // The limit in the server's time: 44,100 of the synth's frames a second.
        const uint64_t limitNanos = maxFrames * 1'000'000'000u / uint64_t(kSampleRate);
        // Following a transport or a clock, a stop only stops the sound: the host may start
        // or place it again. Playing on its own, the synth stopping (a song's end) ends it.
        const bool following = sync.FollowTransport || sync.FollowClock;
        bool ended = asked;
        while (!ended && !(stop && stop())) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            bool stopped = false;
            TakeEvents(stopped);
            ended = stopped && !following;
            serverGone();
            out.ReportLatency();
            r.PeakLoad = std::max(r.PeakLoad, out.Load());
            // The length is the server's time, so it holds whatever its rate and period size
            // do meanwhile.
            if (maxFrames > 0 && out.PlayedNanos() - before >= limitNanos) break;
        }
        r.Periods = out.Periods() - periodsBefore;
        r.Xruns = out.Xruns();
        r.ShortestPeriod = out.ShortestPeriod();
        r.LongestPeriod = out.LongestPeriod();
        r.Seconds = double(out.PlayedNanos() - before) / 1e9;
        r.Rate = out.Rate();
        r.RateChanges = out.RateChanges();
        r.Ok = true;
    } catch (const std::exception& e) {
        r.Error = e.what();
    }
    Live.Post({LiveCommand::Kind::Stop, 0});
    return r;
}

} // namespace zelvox
