// The pattern store after start-up, and the note names.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "engine/Tables.h"
#include "sequencer/NoteNames.h"
#include "sequencer/PatternDefaults.h"

using namespace zelvox;

TEST(StoreDefaults, EveryStepOfEverySlot) {
    auto store = std::make_unique<PatternStore>();
    std::memset(store.get(), 0, sizeof(PatternStore));
    InitPatternStoreDefaults(*store);
    const float c2 = Note2Freq(13);
    for (int p = 0; p <= 16; ++p) {
        for (int s = 1; s <= 16; ++s) {
            const StepRecord& r = store->Step(p, s);
            SCOPED_TRACE(testing::Message() << "slot " << p << " step " << s);
            EXPECT_EQ(r.BassNote, 13);
            EXPECT_EQ(r.TwinTNote, 13);
            EXPECT_EQ(r.NoiseNote, 13);
            EXPECT_EQ(r.TwinTFreq, c2);
            EXPECT_EQ(r.BassFreq, c2);
            EXPECT_EQ(r.TwinTDecay, 64);
            EXPECT_EQ(r.NoiseDecay, 64);
            EXPECT_EQ(r.TwinTVolume, 127);
            EXPECT_EQ(r.NoiseVolume, 127);
            EXPECT_EQ(r.TwinTEnvMod, 0);
            EXPECT_EQ(r.BassAmpSwitch, 0);
            EXPECT_EQ(r.TwinTPlay, 0);
            EXPECT_EQ(r.Reserved1, 0);
            EXPECT_EQ(r.Reserved2, 1.0f);
            EXPECT_EQ(r.BassCutoff, 32);
            EXPECT_EQ(r.BassResonance, 0);
            EXPECT_EQ(r.NoiseColour, 0);
            EXPECT_EQ(r.BassAttack, 3);
            EXPECT_EQ(r.BassDecay, 35);
            EXPECT_EQ(r.BassEnvMod, 0);
            EXPECT_EQ(r.NoiseEnvMod, 0);
            EXPECT_EQ(r.BassVolume, p == 0 ? 0 : 127);
            EXPECT_EQ(r.BassWaveform, 0);
            EXPECT_EQ(r.BassPlay, 1);
            EXPECT_EQ(r.BassSlide, 0);
            EXPECT_EQ(r.NoisePlay, 0);
            EXPECT_EQ(r.BassLength, 60);
            const auto* bytes = reinterpret_cast<const unsigned char*>(&r);
            EXPECT_EQ(bytes[41] | bytes[42] | bytes[43] | bytes[95], 0);
        }
    }
}

TEST(StoreDefaults, NoiseColourAndEnvModAreNotWritten) {
    auto store = std::make_unique<PatternStore>();
    std::memset(store.get(), 0xA5, sizeof(PatternStore));
    store->Step(3, 7).NoiseColour = 120;
    store->Step(3, 7).NoiseEnvMod = 10;
    InitPatternStoreDefaults(*store);
    EXPECT_EQ(store->Step(3, 7).NoiseColour, 120);
    EXPECT_EQ(store->Step(3, 7).NoiseEnvMod, 10);
    // ...while the padding is written as zero whatever was there.
    const auto* bytes = reinterpret_cast<const unsigned char*>(&store->Step(3, 7));
    EXPECT_EQ(bytes[41] | bytes[42] | bytes[43] | bytes[95], 0);
}

TEST(NoteNames, ExactTexts) {
    const char* expected[38] = {"",   "C1",  "C#1", "D1",  "D#1", "E1",  "F1",  "F#1", "G1",  "G#1",
                                "A2", "A#2", "B2",  "C2",  "C#2", "D2",  "D#2", "E2",  "F2",  "F#2",
                                "G2", "G#",  "A3",  "A#3", "B3",  "C3",  "C#3", "D3",  "D#3", "E3",
                                "F3", "F#",  "G3",  "G#3", "A4",  "A#4", "B4",  "C4"};
    ASSERT_EQ(NoteNames.size(), 38u);
    for (int n = 1; n <= 37; ++n)
        EXPECT_EQ(std::string(NoteNames[n]), expected[n]) << n;
    EXPECT_EQ(std::string(NoteName(21)), "G#");
    EXPECT_EQ(std::string(NoteName(31)), "F#");
    EXPECT_EQ(std::string(NoteName(10)), "A2");
    EXPECT_EQ(std::string(NoteName(13)), "C2");
    EXPECT_EQ(std::string(NoteName(0)), "");
    EXPECT_EQ(std::string(NoteName(38)), "");
    EXPECT_EQ(std::string(NoteName(-2147483647 - 1)), "");
}
