#include "program/PluginLink.h"

#include <chrono>
#include <cmath>

#include "program/PatternFileCommands.h"

namespace zelvox {

using lv2::PortRole;

PluginLink::PluginLink(ProgramCore& core) : Core_(core) {
    Now = [] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
    };
    Holding = [] { return false; };
    // A control turned by the user (not by an edit that shows a step, a load or undo) is
    // noted for its port.
    for (uint32_t i = 0; i < kCount; ++i) {
        ValueControl* c = ControlOfPort(i);
        if (!c) continue;
        c->OnChange = [this, i, change = c->OnChange] {
            const bool user = Applying_ == 0 && !Core_.Form.Editing();
            if (change) change();
            if (user) Turned_[i] = true;
        };
    }
    Core_.Form.SetTransportDevice(this);
    Core_.Form.OnSynthEdit = [this](const SynthEdit& e) { Note(e); };
    Rebase();
}

PluginLink::~PluginLink() {
    Core_.Form.OnSynthEdit = nullptr;
    Core_.Form.SetTransportDevice(nullptr);
}

void PluginLink::Note(const SynthEdit& edit) {
    if (!Synced_ || WholePending_) return;
    if (edit.What == SynthEdit::Kind::Whole) {
        WholePending_ = true; // taken when it goes: it holds the edits made until then
        Edits_.clear();
        return;
    }
    Edits_.push_back(EncodeEdit(edit));
}

ValueControl* PluginLink::ControlOfPort(uint32_t i) const {
    const lv2::PortInfo info = lv2::ControlPortInfo(i);
    switch (info.Role) {
    case PortRole::Control:
        if (ValueControl* c = Core_.Form.ControlFor(info.Id)) return c;
        return Core_.Envelopes.ControlFor(info.Id);
    case PortRole::FreeTempo:
        return Core_.Form.ControlFor(ControlId::Tempo);
    default:
        return nullptr;
    }
}

int32_t PluginLink::Queued() const {
    // A pattern chosen while playing waits for the pattern end, there as here.
    const Sequencer& seq = Core_.Form.Synth.Seq;
    return seq.Playing() ? seq.QueuedPattern : seq.PlayPattern;
}

// What the window shows now is what the plugin has: nothing of it is to be sent.
void PluginLink::Rebase() {
    Edits_.clear();
    WholePending_ = false;
    Pattern_ = Queued();
    Song_ = Core_.Form.Synth.Seq.SongMode();
    Turned_.fill(false);
}

void PluginLink::Receive(const wire::Message& m) {
    MainForm& form = Core_.Form;
    switch (m.What) {
    case wire::Kind::PluginState: {
        if (m.Bytes.size() != kPatternFileSize) return;
        PatternFileRecord r;
        DecodePatternFile(m.Bytes.data(), r);
        ++Applying_;
        ApplyPatternFile(form, Core_.Envelopes, r);
        --Applying_;
        form.ClearHistory(); // the plugin's state is where the window's edits begin
        Synced_ = true;
        Rebase();
        return;
    }
    case wire::Kind::Port: {
        if (m.A < lv2::kFirstControlPort || m.A >= lv2::kFirstControlPort + kCount ||
            !std::isfinite(m.Value))
            return;
        const uint32_t i = m.A - lv2::kFirstControlPort;
        const lv2::PortInfo info = lv2::ControlPortInfo(i);
        const bool first = !PortSeen_[i];
        const bool changed = first || m.Value != Port_[i];
        PortSeen_[i] = true;
        Port_[i] = m.Value;
        const int32_t v = static_cast<int32_t>(std::lround(std::fmax(-1e6f, std::fmin(1e6f, m.Value))));
        ++Applying_;
        if (info.Role == PortRole::EditMode && changed) {
            // How the knobs edit: the window and the plugin must agree.
            if (v != 0) form.SelectedNote1Click();
            else form.AllNotes1Click();
        } else if (info.Role == PortRole::EditStep && changed && v >= 1 && v <= 16) {
            if (v != form.EditStep) form.MMSliderEnter(v);
        } else if (!first && changed) {
            // The host moved it (automation, its own controls): the knob follows.
            if (ValueControl* c = ControlOfPort(i)) c->SetValue(v);
        }
        --Applying_;
        if (Synced_) Rebase();
        return;
    }
    case wire::Kind::Step:
        if (m.A < 1 || m.A > 16 || m.B < 1 || m.B > 16) return;
        StoppedItself_ = false;
        ++Applying_;
        if (!form.Synth.Seq.Playing()) form.Synth.Seq.Start();
        form.ShowPlayedStep(int32_t(m.A), m.B);
        --Applying_;
        Pattern_ = Queued();
        return;
    case wire::Kind::Knob: {
        // MIDI turned it in the plugin: the knob follows, as in the desktop program (the
        // plugin has the value: no port write, nothing to send back).
        if (m.A >= kControlCount) return;
        const auto id = static_cast<ControlId>(m.A);
        ValueControl* c = form.ControlFor(id);
        if (!c) c = Core_.Envelopes.ControlFor(id);
        if (c) {
            ++Applying_;
            c->SetValue(m.B);
            --Applying_;
            if (Synced_) Rebase();
        }
        return;
    }
    case wire::Kind::Stopped:
        // The host's transport stopped, a Run port went off or the song ended: the window
        // stops showing a play (as the low-latency player's window does). With Run still on,
        // the plugin stopped by itself (a song's end: with the host stopped Run plays on).
        for (uint32_t i = 0; i < kCount; ++i)
            if (lv2::ControlPortInfo(i).Role == PortRole::Run && PortSeen_[i] && Port_[i] == 1.0f)
                StoppedItself_ = true;
        ++Applying_;
        if (form.Synth.Seq.Playing()) form.ShowPlayStopped();
        --Applying_;
        Pattern_ = Queued();
        return;
    case wire::Kind::Show:
        if (OnShow) OnShow(true);
        return;
    case wire::Kind::Hide:
        if (OnShow) OnShow(false);
        return;
    default:
        return; // the window's own kinds: not the host's to send
    }
}

std::vector<wire::Message> PluginLink::Outgoing() {
    std::vector<wire::Message> out;
    if (!Synced_) {
        Turned_.fill(false);
        return out;
    }
    const MainForm& form = Core_.Form;
    const double t = Now(); // s
    auto touch = [&](uint32_t i, bool on) {
        Touching_[i] = on;
        wire::Message m;
        m.What = wire::Kind::Touch;
        m.A = lv2::kFirstControlPort + i;
        m.B = on ? 1 : 0;
        out.push_back(m);
    };
    auto write = [&](uint32_t i, float v) {
        Port_[i] = v;
        PortSeen_[i] = true;
        wire::Message m;
        m.What = wire::Kind::PortWrite;
        m.A = lv2::kFirstControlPort + i;
        m.Value = v;
        out.push_back(m);
    };
    for (uint32_t i = 0; i < kCount; ++i) {
        const lv2::PortInfo info = lv2::ControlPortInfo(i);
        float want = Port_[i];
        switch (info.Role) {
        case PortRole::Control:
        case PortRole::FreeTempo:
            if (!Turned_[i]) continue;
            if (!Touching_[i]) touch(i, true);
            LastTurn_[i] = t;
            want = float(ControlOfPort(i)->Value());
            break;
        case PortRole::EditMode:
            want = form.SelectedNoteMode ? 1.0f : 0.0f;
            break;
        case PortRole::EditStep:
            want = float(form.EditStep);
            break;
        case PortRole::Pattern:
            if (Queued() == Pattern_ || Queued() < 1) continue;
            Pattern_ = Queued();
            want = float(Pattern_);
            break;
        case PortRole::Song:
            if (form.Synth.Seq.SongMode() == Song_) continue;
            Song_ = form.Synth.Seq.SongMode();
            want = Song_ ? 1.0f : 0.0f;
            break;
        case PortRole::Run:
            if (RestartAt_ > 0.0) {
                if (t < RestartAt_) continue;
                RestartAt_ = 0.0;
                want = 1.0f;
                break;
            }
            if (Run_ < 0) continue;
            if (Run_ == 1 && StoppedItself_ && PortSeen_[i] && Port_[i] == 1.0f) {
                // Loop after the plugin ended its song with Run on: the port is 1 already and
                // only a change starts it. Off now, on again a moment later, in a later block
                // of the host's.
                StoppedItself_ = false;
                RestartAt_ = t + kRestartPause;
                want = 0.0f;
                break;
            }
            want = float(Run_);
            break;
        default:
            continue;
        }
        if (!PortSeen_[i] || want != Port_[i]) write(i, want);
    }
    const bool holding = Holding();
    for (uint32_t i = 0; i < kCount; ++i)
        if (Touching_[i] && !holding && t - LastTurn_[i] >= kGesturePause) touch(i, false);
    Turned_.fill(false);
    Run_ = -1;
    // The edits made since the last call, as they were made; between edits nothing is
    // encoded.
    if (WholePending_) {
        wire::Message m;
        m.What = wire::Kind::State;
        m.Bytes = form.Synth.SaveState();
        out.push_back(std::move(m));
        WholePending_ = false;
    }
    for (std::vector<uint8_t>& bytes : Edits_) {
        wire::Message m;
        m.What = wire::Kind::Edit;
        m.Bytes = std::move(bytes);
        out.push_back(std::move(m));
    }
    Edits_.clear();
    return out;
}

} // namespace zelvox
