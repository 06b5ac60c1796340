// Swing, Randomise and Mutate. Swing: every second sixteenth begins at its swung time on the
// synth's own clock, on MIDI clock and on a host's grid (within one frame), and at 0 % the
// sound is exactly the straight one. Randomise: a seed's pattern file is pinned byte for
// byte; locks keep their fields; Mutate changes the asked share of steps; both are one undo
// step in the window's model.

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "support/WindowModel.h"
#include "sequencer/PatternDice.h"
#include "synth/HostTransport.h"
#include "synth/MidiClockFollow.h"
#include "synth/PatternSynth.h"
#include "ui/MainForm.h"

using namespace zelvox;

namespace {

// The frames at which steps begin on the synth's own clock, rendering one frame at a time.
struct StepFrames final : SequencerListener {
    std::vector<uint64_t> Frames;
    uint64_t Now = 0;
    void StepAdvanced(int32_t, int32_t) override {}
    void PatternChanged() override {}
    void PhraseStarted(int32_t) override {}
    void SongEnded() override {}
    void StepLoaded() override { Frames.push_back(Now); }
};

std::vector<int16_t> RenderOwnClock(int32_t swing, size_t frames, StepFrames* steps = nullptr) {
    PatternSynth synth;
    synth.Seq.SetSwing(swing);
    if (steps) synth.Seq.SetListener(steps);
    synth.Start();
    std::vector<int16_t> out(frames);
    for (size_t i = 0; i < frames; ++i) {
        if (steps) steps->Now = i;
        synth.Render(&out[i], 1);
    }
    return out;
}

// The swung onset of sixteenth k, for a step of `step` frames and a delay of `delay`.
double Swung(uint64_t k, double step, double delay) {
    return static_cast<double>(k) * step + ((k & 1u) != 0 ? delay : 0.0);
}

} // namespace

TEST(Swing, OwnClockDelaysEverySecondStepAndKeepsPairs) {
    // 140 BPM: steps of 4,726 samples (the first 4,725); 50 % delays the off-beat ones by
    // 2,363.
    StepFrames straight, swung;
    const std::vector<int16_t> a = RenderOwnClock(0, 8 * 4726 + 10, &straight);
    const std::vector<int16_t> b = RenderOwnClock(50, 8 * 4726 + 10, &swung);
    ASSERT_GE(swung.Frames.size(), 9u);
    for (uint64_t k = 0; k < 9; ++k) {
        const uint64_t on = k == 0 ? 0 : k * 4726 - 1;
        EXPECT_EQ(straight.Frames[k], on) << k;
        EXPECT_EQ(swung.Frames[k], on + (k & 1u) * 2363) << k;
    }
    // The same sound until the first swung step, another one after it.
    EXPECT_TRUE(std::equal(a.begin(), a.begin() + 4725, b.begin()));
    EXPECT_NE(a, b);
    // 0 % is the straight clock; 75 % the longest delay, the off-beat step a quarter long.
    PatternSynth untouched;
    untouched.Start();
    std::vector<int16_t> plain(a.size());
    untouched.Render(plain.data(), static_cast<uint32_t>(plain.size()));
    EXPECT_EQ(plain, a);
    StepFrames most;
    RenderOwnClock(75, 3 * 4726, &most);
    EXPECT_EQ(most.Frames[1], 4725u + 3545u);
    EXPECT_EQ(most.Frames[2], 2u * 4726u - 1u);
}

TEST(Swing, MidiClockAndHostGridPutOffBeatStepsOnTheirSwungTime) {
    // MIDI clock at 800 frames a pulse: steps of 4,800 frames, 50 % = 2,400 frames late.
    {
        PatternSynth synth;
        synth.Seq.SetSwing(50);
        MidiClockFollow follow(synth);
        follow.SetFollowing(true);
        std::vector<int16_t> out(256);
        std::vector<uint64_t> starts;
        const uint8_t start = 0xFA, clock = 0xF8;
        uint64_t frame = 0;
        for (int pulse = 0; pulse < 6 * 8; ++pulse) {
            // One block per pulse interval, pulse at its first frame, in blocks of 256.
            if (pulse == 0) follow.Message(0, &start, 1);
            follow.Message(0, &clock, 1);
            for (uint32_t done = 0; done < 800;) {
                const uint32_t n = std::min<uint32_t>(256, 800 - done);
                follow.Render(out.data(), n);
                for (size_t i = 0; i < follow.StepStartCount(); ++i)
                    starts.push_back(frame + follow.StepStarts()[i].Frame);
                frame += n;
                done += n;
            }
        }
        ASSERT_EQ(starts.size(), 8u);
        for (uint64_t k = 0; k < 8; ++k) EXPECT_EQ(starts[k], static_cast<uint64_t>(Swung(k, 4800, 2400))) << k;
    }
    // A host at 123 BPM rolling from the song start: sixteenths of 5,378.05 frames, each
    // off-beat one 60 % of that late, at the first frame at or after its time.
    {
        PatternSynth synth;
        synth.Seq.SetSwing(60);
        HostTransport host(synth);
        HostPosition p;
        p.HasSpeed = true;
        p.Speed = 1.0;
        p.HasBeat = true;
        p.HasTempo = true;
        p.Bpm = 123.0;
        std::vector<int16_t> out(512);
        std::vector<uint64_t> starts;
        for (uint64_t frame = 0; frame < 12 * 5379; frame += 512) {
            host.BeginBlock();
            if (frame == 0) host.Position(p);
            host.Render(out.data(), 512);
            for (size_t i = 0; i < host.StepStartCount(); ++i) starts.push_back(frame + host.StepStarts()[i].Frame);
        }
        const double step = 44100.0 * 60.0 / 123.0 / 4.0;
        ASSERT_GE(starts.size(), 12u);
        for (uint64_t k = 0; k < 12; ++k) {
            const double t = Swung(k, step, 0.6 * step);
            EXPECT_GE(double(starts[k]), t - 1e-6) << k;
            EXPECT_LT(double(starts[k]), t + 1.0) << k;
        }
    }
}

// Playing that starts on an off-beat sixteenth swings it too, at 50 %. Song Position 3 and
// Continue on MIDI clock at 800 frames a pulse: the step before it plays from the pulse (it
// would still be sounding there), sixteenth 3 begins 2,400 frames late, sixteenth 4 on its
// pulse. A host starting at sixteenth 3 on the synth's own clock at 123 BPM (steps of 5,378
// samples): the same, with sixteenth 4 on the host's beat.
TEST(Swing, PlayingStartedOnAnOffBeatSixteenthDelaysIt) {
    {
        PatternSynth synth;
        synth.Seq.SetSwing(50);
        HostTransport host(synth);
        host.SetStepClock(StepClock::SynthClock);
        HostPosition p;
        p.HasSpeed = p.HasBeat = p.HasTempo = true;
        p.Speed = 1.0;
        p.BarBeat = 0.75;
        p.Bpm = 123.0;
        std::vector<int16_t> out(512);
        std::vector<std::pair<uint64_t, int32_t>> starts;
        for (uint64_t frame = 0; frame < 6000; frame += 512) {
            host.BeginBlock();
            if (frame == 0) host.Position(p);
            host.Render(out.data(), 512);
            for (size_t i = 0; i < host.StepStartCount(); ++i)
                starts.emplace_back(frame + host.StepStarts()[i].Frame, host.StepStarts()[i].Step);
        }
        const std::vector<std::pair<uint64_t, int32_t>> expected{{0, 3}, {2689, 4}, {5378, 5}};
        EXPECT_EQ(starts, expected);
    }
    PatternSynth synth;
    synth.Seq.SetSwing(50);
    MidiClockFollow follow(synth);
    follow.SetFollowing(true);
    const uint8_t clock = 0xF8, resume = 0xFB, position[3] = {0xF2, 3, 0};
    std::vector<int16_t> out(800);
    std::vector<std::pair<uint64_t, int32_t>> starts; // frame, pattern step
    for (uint64_t pulse = 0; pulse < 16; ++pulse) {
        if (pulse == 4) {
            follow.Message(0, position, 3);
            follow.Message(0, &resume, 1);
        }
        follow.Message(0, &clock, 1);
        follow.Render(out.data(), 800);
        for (size_t i = 0; i < follow.StepStartCount(); ++i)
            starts.emplace_back(pulse * 800 + follow.StepStarts()[i].Frame, follow.StepStarts()[i].Step);
    }
    const std::vector<std::pair<uint64_t, int32_t>> expected{{3200, 3}, {3200 + 2400, 4}, {3200 + 4800, 5}};
    EXPECT_EQ(starts, expected);
}

namespace {

uint64_t Fnv1a(const std::vector<uint8_t>& bytes) {
    uint64_t h = 0xCBF29CE484222325ull;
    for (uint8_t b : bytes) h = (h ^ b) * 0x100000001B3ull;
    return h;
}

} // namespace

TEST(Dice, SeedGivesPinnedBytesAndLocksKeepTheirFields) {
    DiceRandom rng(1);
    EXPECT_EQ(rng.Next(), 0x910A2DEC89025CC1ull); // splitmix64's published first output for seed 1

    PatternSynth synth;
    const std::vector<uint8_t> start = synth.SaveState();
    RandomisePattern(synth.Store, 1, 42, DiceOptions{});
    const std::vector<uint8_t> once = synth.SaveState();
    EXPECT_EQ(Fnv1a(once), 0x5E2D2CE899E395AFull) << std::hex << Fnv1a(once);
    // Only pattern 1 (bytes 1,600..3,199 of the file) changed; every note is in C minor within 1..25.
    EXPECT_TRUE(std::equal(once.begin(), once.begin() + 1600, start.begin()));
    EXPECT_TRUE(std::equal(once.begin() + 3200, once.end(), start.begin() + 3200));
    for (int s = 1; s <= 16; ++s) {
        const int32_t n = synth.Store.Step(1, s).BassNote;
        EXPECT_TRUE(n >= 1 && n <= 25 && ((0b0101'1010'1101 >> ((n - 1) % 12)) & 1)) << n;
    }

    // Locks: the bass notes voice and the knobs row keep their bytes; the rest is what the
    // same seed gives without locks.
    PatternSynth locked;
    DiceOptions keep;
    keep.Locks.BassNotes = true;
    keep.Locks.Knobs = true;
    RandomisePattern(locked.Store, 1, 42, keep);
    const PatternSynth fresh;
    for (int s = 1; s <= 16; ++s) {
        const StepRecord &l = locked.Store.Step(1, s), &o = synth.Store.Step(1, s);
        const StepRecord& d = fresh.Store.Step(1, s);
        EXPECT_EQ(l.BassNote, d.BassNote);
        EXPECT_EQ(l.BassPlay, d.BassPlay);
        EXPECT_EQ(l.BassSlide, d.BassSlide);
        EXPECT_EQ(l.BassCutoff, d.BassCutoff);
        EXPECT_EQ(l.TwinTVolume, d.TwinTVolume);
        EXPECT_EQ(l.TwinTPlay, o.TwinTPlay);
        EXPECT_EQ(l.NoiseNote, o.NoiseNote);
    }

    // Mutate: 25 % is 4 of 16 steps, each a little; everything locked changes nothing.
    PatternSynth mutated;
    mutated.Store = synth.Store;
    EXPECT_EQ(MutatePattern(mutated.Store, 1, 7, 25, DiceOptions{}), 4);
    int differ = 0;
    for (int s = 1; s <= 16; ++s)
        differ += std::memcmp(&mutated.Store.Step(1, s), &synth.Store.Step(1, s), sizeof(StepRecord)) != 0;
    EXPECT_EQ(differ, 4);
    DiceOptions all;
    all.Locks.BassNotes = all.Locks.BassSound = all.Locks.TwinT = all.Locks.Noise = true;
    EXPECT_EQ(MutatePattern(mutated.Store, 1, 7, 100, all), 0);
    DiceOptions drumsOnly;
    drumsOnly.Locks.BassNotes = drumsOnly.Locks.BassSound = true;
    const PatternStore before = mutated.Store;
    EXPECT_EQ(MutatePattern(mutated.Store, 1, 9, 100, drumsOnly), 16);
    for (int s = 1; s <= 16; ++s) {
        const StepRecord &a = mutated.Store.Step(1, s), &b = before.Step(1, s);
        for (auto f : {&StepRecord::BassNote, &StepRecord::BassCutoff, &StepRecord::BassResonance,
                       &StepRecord::BassAttack, &StepRecord::BassDecay, &StepRecord::BassEnvMod,
                       &StepRecord::BassVolume, &StepRecord::BassWaveform, &StepRecord::BassAmpSwitch,
                       &StepRecord::BassLength})
            EXPECT_EQ(a.*f, b.*f);
        EXPECT_EQ(std::memcmp(&a.BassFreq, &b.BassFreq, 4), 0);
        EXPECT_EQ(a.BassPlay, b.BassPlay);
        EXPECT_EQ(a.BassSlide, b.BassSlide);
    }

    std::string error;
    DiceLocks parsed;
    EXPECT_TRUE(ParseLocks("bass-notes,knobs", parsed, error));
    EXPECT_TRUE(parsed.BassNotes && parsed.Knobs && !parsed.Noise);
    EXPECT_FALSE(ParseLocks("bass,knobs", parsed, error));
    EXPECT_NE(error.find("'bass'"), std::string::npos);
}

// In the window Randomise and Mutate are one undo step each and live with the edit mode: in
// "All Notes" the sound they give is every pattern's (a pattern click afterwards changes no
// byte); in "Selected Note" the pattern keeps its own sound, as the command gives it.
TEST(Dice, RandomiseAndMutateLiveWithTheEditModeInTheWindow) {
    const auto clickEveryPattern = [](MainForm& form) {
        const std::vector<uint8_t> before = form.Synth.SaveState();
        for (int n = 1; n <= 16; ++n) {
            form.LEDButtonClick(n);
            EXPECT_EQ(form.Synth.SaveState(), before) << "pattern " << n;
        }
        form.LEDButtonClick(3);
    };
    test::WindowModel w;
    MainForm& form = w.Form;
    form.FormCreate();
    form.ClearHistory();
    form.LEDButtonClick(3);
    const std::vector<uint8_t> start = form.Synth.SaveState();
    form.DicePattern(false, 5, 0, DiceOptions{});
    const std::vector<uint8_t> randomised = form.Synth.SaveState();
    EXPECT_NE(randomised, start);
    for (int p = 1; p <= 16; ++p) {
        EXPECT_EQ(form.Store.Step(p, 7).BassCutoff, form.Store.Step(3, 1).BassCutoff);
        EXPECT_EQ(form.Store.Step(p, 7).NoiseColour, form.Store.Step(3, 1).NoiseColour);
    }
    EXPECT_EQ(form.MMWheel3.Value(), form.Store.Step(3, 1).BassCutoff); // the knobs show it
    clickEveryPattern(form);
    form.DicePattern(true, 6, 100, DiceOptions{});
    clickEveryPattern(form);
    EXPECT_EQ(form.History.UndoLabel(), "Mutate");
    const std::vector<uint8_t> mutated = form.Synth.SaveState();
    form.Undo1Click();
    EXPECT_EQ(form.Synth.SaveState(), randomised);
    form.Undo1Click();
    EXPECT_EQ(form.Synth.SaveState(), start);
    form.Redo1Click();
    form.Redo1Click();
    EXPECT_EQ(form.Synth.SaveState(), mutated);

    // "Selected Note": exactly the command's bytes, pattern 3's sound its own.
    test::WindowModel ownWindow;
    MainForm& own = ownWindow.Form;
    own.FormCreate();
    own.SelectedNote1Click();
    own.LEDButtonClick(3);
    std::vector<uint8_t> bytes = own.Synth.SaveState();
    PatternSynth command;
    command.LoadState(bytes.data(), bytes.size());
    RandomisePattern(command.Store, 3, 5, DiceOptions{});
    MutatePattern(command.Store, 3, 6, 100, DiceOptions{});
    own.DicePattern(false, 5, 0, DiceOptions{});
    own.DicePattern(true, 6, 100, DiceOptions{});
    EXPECT_EQ(own.Synth.SaveState(), command.SaveState());
    EXPECT_NE(own.Store.Step(3, 1).BassCutoff, own.Store.Step(4, 1).BassCutoff);
    clickEveryPattern(own);
}
