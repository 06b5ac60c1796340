#include "ui/MidiLearn.h"

#include <cctype>

namespace zelvox {

LearnLookup LookupOf(const LearnMap& map) {
    LearnLookup l;
    for (auto& channel : l.Control) channel.fill(LearnLookup::kNone);
    for (size_t i = 0; i < map.size(); ++i) {
        const LearnedCc& c = map[i];
        if (!c.Mapped() || c.Channel > 15) continue;
        int8_t& slot = l.Control[size_t(c.Channel)][size_t(c.Cc)];
        if (slot == LearnLookup::kNone) slot = int8_t(i);
    }
    return l;
}

std::string LearnedCcText(const LearnedCc& c) {
    if (!c.Mapped()) return {};
    return std::to_string(c.Channel + 1) + "," + std::to_string(c.Cc);
}

namespace {

// A decimal number of at most three digits between blanks; false for anything else.
bool SmallNumber(const std::string& text, int& out) {
    size_t b = 0, e = text.size();
    while (b < e && std::isspace(static_cast<unsigned char>(text[b]))) ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(text[e - 1]))) --e;
    if (b == e || e - b > 3) return false;
    int v = 0;
    for (size_t i = b; i < e; ++i) {
        if (!std::isdigit(static_cast<unsigned char>(text[i]))) return false;
        v = v * 10 + (text[i] - '0');
    }
    out = v;
    return true;
}

bool Learnable(int cc) { return cc >= 0 && cc < 120; }

} // namespace

bool ParseLearnedCc(const std::string& text, LearnedCc& out) {
    const size_t comma = text.find(',');
    if (comma == std::string::npos) return false;
    int channel = 0, cc = 0;
    if (!SmallNumber(text.substr(0, comma), channel) || !SmallNumber(text.substr(comma + 1), cc)) return false;
    if (channel < 1 || channel > 16 || !Learnable(cc)) return false;
    out = {int8_t(channel - 1), int8_t(cc)};
    return true;
}

std::string LearnName(ControlId id) {
    const ControlRow& r = ControlRowOf(id);
    if (id == ControlId::BassResonance) return "Bass Resonance"; // the knob says "Res."
    switch (r.Panel) {
    case ControlPanel::Bass: return std::string("Bass ") + r.Caption;
    case ControlPanel::TwinT: return std::string("Twin-T ") + r.Caption;
    case ControlPanel::Noise: return std::string("Noise ") + r.Caption;
    case ControlPanel::Envelopes: {
        const std::string voice = id == ControlId::TwinTDecayContour   ? "Twin-T "
                                  : id == ControlId::NoiseDecayContour ? "Noise "
                                                                       : "Bass ";
        return voice + r.Caption + " contour";
    }
    case ControlPanel::Lower: break;
    }
    return id == ControlId::MasterVolume ? "Master Volume" : r.Caption;
}

void MidiLearn::Load() {
    LearnMap map{};
    for (const ControlRow& row : kControls) {
        LearnedCc c;
        if (!ParseLearnedCc(Settings_.ReadString(kSection, row.RoleName, ""), c)) continue;
        bool taken = false;
        for (const LearnedCc& other : map) taken = taken || other == c;
        if (!taken) map[size_t(row.Id)] = c;
    }
    Map_ = map;
    Lookup_ = LookupOf(Map_);
    NotifyViews();
}

void MidiLearn::LearnClick(ControlId id) {
    if (Pending_ == id) return Cancel();
    Pending_ = id;
    SetStatus("Move a controller for " + LearnName(id) + " ...");
}

void MidiLearn::Cancel() {
    if (!Pending_) return;
    Pending_.reset();
    SetStatus("");
}

bool MidiLearn::HandleMessage(uint8_t status, uint8_t data1, uint8_t data2) {
    if ((status >> 4) != 0xB || data1 > 127) return false;
    const int channel = status & 0x0F;
    bool learned = false;
    if (Pending_ && Learnable(data1)) {
        const ControlId id = *Pending_;
        Pending_.reset();
        Assign(id, {int8_t(channel), int8_t(data1)});
        learned = true;
        SetStatus(LearnName(id) + ": channel " + std::to_string(channel + 1) + ", CC " + std::to_string(data1));
        Save(id); // after the status: a write failure replaces it
    }
    if (const std::optional<ControlId> id = Lookup_.Find(channel, data1))
        if (ValueControl* target = Targets_[size_t(*id)]) target->SetValue(LearnedValue(*id, data2));
    return learned;
}

void MidiLearn::Assign(ControlId id, LearnedCc cc) {
    // One controller, one control: whoever had this controller loses it.
    for (size_t i = 0; i < Map_.size(); ++i)
        if (i != size_t(id) && cc.Mapped() && Map_[i] == cc) {
            Map_[i] = {};
            Save(ControlId(i));
        }
    Map_[size_t(id)] = cc;
    Lookup_ = LookupOf(Map_);
    NotifyViews();
}

void MidiLearn::Clear(ControlId id) {
    if (!Map_[size_t(id)].Mapped()) return;
    Assign(id, {});
    Save(id);
}

void MidiLearn::ClearAll() {
    for (const ControlRow& row : kControls) Clear(row.Id);
}

void MidiLearn::Save(ControlId id) {
    try {
        Settings_.WriteString(kSection, ControlRowOf(id).RoleName, LearnedCcText(Map_[size_t(id)]));
    } catch (const ESettingsError& e) {
        // Learned for this run; the user is told it will not be there next time.
        SetStatus(std::string(e.what()) + ": the MIDI learn map was not saved");
    }
}

void MidiLearn::SetStatus(std::string text) {
    Status_ = std::move(text);
    NotifyViews();
}

std::vector<MidiLearn::Entry> MidiLearn::Entries() const {
    std::vector<Entry> v;
    for (const ControlRow& row : kControls) {
        const LearnedCc& c = Map_[size_t(row.Id)];
        if (!c.Mapped()) continue;
        v.push_back({row.Id, LearnName(row.Id) + ": channel " + std::to_string(c.Channel + 1) + ", CC " +
                                 std::to_string(c.Cc)});
    }
    return v;
}

} // namespace zelvox
