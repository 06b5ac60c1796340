// MIDI learn: a controller learned through the context menu's action turns its control (and
// the synth's step field) through the scripted MIDI input, beside the fixed controller table;
// the map is in the settings file and works again after a restart; the MIDI setup lists and
// clears it. Then the model's rules: one controller one control, cancel, what is never learned,
// the scaling, and reading a damaged settings section.

#include <gtest/gtest.h>

#include <memory>

#include "midi/backends/ScriptedMidiIn.h"
#include "program/MidiKnobs.h"
#include "program/ProgramCore.h"
#include "support/MidiRig.h"
#include "ui/MidiLearn.h"

using namespace zelvox;
using zelvox::test::TempSettings;

namespace {

// The program as it starts: window and envelope models, then the MIDI setup on the settings.
struct Started {
    explicit Started(const TSettingsFile& settings) : Service({Device()}) {
        Core.StartUp();
        Midi = std::make_unique<TForm4>(Service, &Queue, settings, MidiKnobsOf(Core.Form),
                                        LearnTargetsOf(Core.Form, Core.Envelopes));
        Core.PressPatternButton(3); // All Notes: a knob writes every step of pattern 3
    }
    static ScriptedMidiIn::Device Device() {
        ScriptedMidiIn::Device d;
        d.Name = "Keys";
        return d;
    }
    void Send(uint8_t status, uint8_t d1, uint8_t d2) {
        ASSERT_TRUE(Service.SendShort(status, d1, d2));
        Queue.ProcessPending();
    }
    ScriptedMidiIn Service;
    MainThreadQueue Queue;
    ProgramCore Core;
    std::unique_ptr<TForm4> Midi;
};

} // namespace

TEST(MidiLearn, LearnedControllerTurnsItsControlAndIsThereAfterARestart) {
    TempSettings settings;
    settings.Set("ENABLED", "1");
    settings.Set("2", "74"); // the fixed table: CC 74 on the bass Cut-off too
    {
        Started run(settings.File);
        ASSERT_TRUE(run.Midi->DevicesOpen);
        MainForm& f = run.Core.Form;

        run.Midi->Learn.LearnClick(ControlId::BassResonance); // the context menu's action
        EXPECT_EQ(run.Midi->Learn.StatusText(), "Move a controller for Bass Resonance ...");
        run.Send(0x92, 60, 100); // a note is not a controller: still waiting
        ASSERT_EQ(run.Midi->Learn.Pending(), ControlId::BassResonance);
        run.Send(0xB2, 20, 127); // CC 20 on channel 3
        EXPECT_FALSE(run.Midi->Learn.Pending());
        EXPECT_EQ(run.Midi->Learn.StatusText(), "Bass Resonance: channel 3, CC 20");
        EXPECT_EQ(f.MMWheel4.Value(), 105); // 127 is the knob's top
        run.Send(0xB2, 20, 64);
        EXPECT_EQ(f.MMWheel4.Value(), 53); // 64 * 105 / 127 = 52.9
        EXPECT_EQ(f.Store.Step(3, 7).BassResonance, 53);
        run.Send(0xB3, 20, 0); // the same controller on another channel
        EXPECT_EQ(f.MMWheel4.Value(), 53);

        // A contour spin edit of the envelope dialog, and the fixed table beside the map.
        run.Midi->Learn.LearnClick(ControlId::BassDecayContour);
        run.Send(0xB0, 21, 127);
        EXPECT_EQ(run.Core.Envelopes.SpinEdit972.Value(), 40);
        run.Send(0xB0, 74, 90);
        EXPECT_EQ(f.MMWheel3.Value(), 90);
    }
    const std::string text = settings.Text();
    EXPECT_NE(text.find("[MIDI Learn]"), std::string::npos) << text;
    EXPECT_NE(text.find("bass_resonance=3,20"), std::string::npos) << text;
    EXPECT_NE(text.find("bass_decay_contour=1,21"), std::string::npos) << text;

    Started again(settings.File); // the program started anew on the same settings file
    MainForm& f = again.Core.Form;
    EXPECT_EQ(again.Midi->LearnList.Items,
              (std::vector<std::string>{"Bass Resonance: channel 3, CC 20", "Bass Decay contour: channel 1, CC 21"}));
    again.Send(0xB2, 20, 32);
    EXPECT_EQ(f.MMWheel4.Value(), 26); // 32 * 105 / 127 = 26.46
    EXPECT_EQ(f.Store.Step(3, 16).BassResonance, 26);
    again.Send(0xB0, 21, 127);
    EXPECT_EQ(again.Core.Envelopes.SpinEdit972.Value(), 40);
    again.Send(0xB0, 74, 11); // the fixed table still works
    EXPECT_EQ(f.MMWheel3.Value(), 11);

    // The MIDI setup's list: "Clear" the chosen line, then "Clear all"; saved at once.
    TForm4& d = *again.Midi;
    EXPECT_FALSE(d.Button3.Enabled()); // nothing chosen
    d.LearnList.SetItemIndex(0);
    EXPECT_TRUE(d.Button3.Enabled());
    d.Button3.Click();
    EXPECT_EQ(d.LearnList.Items, (std::vector<std::string>{"Bass Decay contour: channel 1, CC 21"}));
    EXPECT_EQ(settings.File.ReadString(MidiLearn::kSection, "bass_resonance", "?"), "");
    again.Send(0xB2, 20, 127);
    EXPECT_EQ(f.MMWheel4.Value(), 26);
    d.Button4.Click();
    EXPECT_TRUE(d.LearnList.Items.empty());
    EXPECT_FALSE(d.Button4.Enabled());
    again.Send(0xB0, 21, 0);
    EXPECT_EQ(again.Core.Envelopes.SpinEdit972.Value(), 40);
    EXPECT_EQ(settings.File.ReadString(MidiLearn::kSection, "bass_decay_contour", "?"), "");
}

TEST(MidiLearn, OneControllerOneControlCancelAndWhatIsNeverLearned) {
    TempSettings settings;
    Knob cutoff = ValueControlFor(ControlId::BassCutoff);
    SpinEdit tempo = ValueControlFor(ControlId::Tempo);
    MidiLearn learn(settings.File);
    MidiLearn::Targets targets{};
    targets[size_t(ControlId::BassCutoff)] = &cutoff;
    targets[size_t(ControlId::Tempo)] = &tempo;
    learn.SetTargets(targets);

    learn.LearnClick(ControlId::Tempo);
    learn.LearnClick(ControlId::Tempo); // the item chosen again cancels
    EXPECT_FALSE(learn.Pending());
    EXPECT_EQ(learn.StatusText(), "");
    learn.LearnClick(ControlId::Tempo);
    learn.Cancel(); // Escape
    EXPECT_FALSE(learn.HandleMessage(0xB0, 10, 0));
    EXPECT_FALSE(learn.Map()[size_t(ControlId::Tempo)].Mapped());

    learn.LearnClick(ControlId::Tempo);
    EXPECT_FALSE(learn.HandleMessage(0xB0, 123, 0)); // All Notes Off: a channel mode message
    EXPECT_FALSE(learn.HandleMessage(0xE0, 10, 64)); // pitch bend
    EXPECT_TRUE(learn.HandleMessage(0xBF, 10, 127));
    EXPECT_EQ(tempo.Value(), 240);
    EXPECT_EQ(settings.File.ReadString(MidiLearn::kSection, "tempo", ""), "16,10");

    // The same controller learned for the Cut-off leaves the tempo.
    learn.LearnClick(ControlId::BassCutoff);
    learn.HandleMessage(0xBF, 10, 0);
    EXPECT_FALSE(learn.Map()[size_t(ControlId::Tempo)].Mapped());
    EXPECT_EQ(settings.File.ReadString(MidiLearn::kSection, "tempo", "?"), "");
    learn.HandleMessage(0xBF, 10, 127);
    EXPECT_EQ(cutoff.Value(), 126);
    EXPECT_EQ(tempo.Value(), 240);
    // A new controller for the Cut-off replaces its old one.
    learn.LearnClick(ControlId::BassCutoff);
    learn.HandleMessage(0xB0, 1, 0);
    learn.HandleMessage(0xBF, 10, 127);
    EXPECT_EQ(cutoff.Value(), 0);
    EXPECT_EQ(learn.Lookup().Find(0, 1), ControlId::BassCutoff);
    EXPECT_FALSE(learn.Lookup().Find(15, 10));
}

TEST(MidiLearn, ScalingMatchesTheFixedTableAndCoversEveryRange) {
    for (int32_t v = 0; v <= 127; ++v) {
        EXPECT_EQ(LearnedValue(ControlId::BassResonance, v), MidiKnobValue(3, v)) << v;
        EXPECT_EQ(LearnedValue(ControlId::NoiseColour, v), MidiKnobValue(22, v)) << v;
        for (const ControlRow& r : kControls) {
            const int32_t got = LearnedValue(r.Id, v);
            ASSERT_GE(got, r.Min);
            ASSERT_LE(got, r.Max);
        }
    }
    for (const ControlRow& r : kControls) {
        EXPECT_EQ(LearnedValue(r.Id, 0), r.Min) << r.RoleName;
        EXPECT_EQ(LearnedValue(r.Id, 127), r.Max) << r.RoleName;
    }
    EXPECT_EQ(LearnedValue(ControlId::BassLength, 64), 80); // 32 + 64 * 95 / 127 = 79.9
    EXPECT_EQ(LearnedValue(ControlId::Tempo, 300), 240);    // out of range: clamped first
}

TEST(MidiLearn, DamagedSettingsEntriesAreLeftOutAndLeftAlone) {
    TempSettings settings;
    const TSettingsFile& s = settings.File;
    s.WriteString(MidiLearn::kSection, "bass_attack", "x");
    s.WriteString(MidiLearn::kSection, "bass_decay", "17,5");  // no channel 17
    s.WriteString(MidiLearn::kSection, "bass_cutoff", "1,120"); // a channel mode message
    s.WriteString(MidiLearn::kSection, "steps", " 2 , 7 ");
    s.WriteString(MidiLearn::kSection, "tempo", "2,7"); // named twice: the first row keeps it
    s.WriteString(MidiLearn::kSection, "depth", "1,0");
    MidiLearn learn(s);
    learn.Load();
    std::vector<std::string> lines;
    for (const MidiLearn::Entry& e : learn.Entries()) lines.push_back(e.Text);
    EXPECT_EQ(lines, (std::vector<std::string>{"Depth: channel 1, CC 0", "Steps: channel 2, CC 7"}));
    EXPECT_EQ(s.ReadString(MidiLearn::kSection, "bass_decay", ""), "17,5");
    LearnedCc c;
    EXPECT_FALSE(ParseLearnedCc("1,2,3", c));
    EXPECT_FALSE(ParseLearnedCc("0,5", c));
    EXPECT_FALSE(ParseLearnedCc("-1,5", c));
    EXPECT_TRUE(ParseLearnedCc("16,119", c));
    EXPECT_EQ(LearnedCcText(c), "16,119");
}
