// The main window at the head of a real chain: head component -> echo -> offline output ->
// a sink that counts delivered buffers. Loop and Stop drive the output end; the render loop
// fills the buffers the output end pulls.

#include <gtest/gtest.h>

#include <vector>

#include "support/WindowModel.h"
#include "audio/MMReverb.h"
#include "audio/OfflineOut.h"
#include "ui/ChainTransport.h"
#include "ui/MainForm.h"

using namespace zelvox;

namespace {

struct Rig {
    test::WindowModel w;
    MainForm& form = w.Form;
    TMMDSPInterface head;
    TMMReverb reverb;
    TMMOfflineOut out;
    TMMDSPComponent sink;
    ChainTransport<TMMOfflineOut> transport{out};
    std::vector<std::vector<int16_t>> delivered;
    Rig() {
        reverb.SetMaxDelay(2000);
        for (int e = 0; e < 8; ++e) reverb.Echos().Add();
        reverb.SetInput(&head);
        reverb.SetOutput(&out);
        out.SetOutput(&sink);
        sink.OnBufferReady = [this](TObject*, PWaveHdr h) {
            const auto* p = reinterpret_cast<const int16_t*>(h->lpData);
            delivered.emplace_back(p, p + h->dwBytesRecorded / 2);
        };
        // The program's chain makes the head render the form's synth (program/MainChain).
        head.OnBufferLoad = [this](TObject*, PWaveHdr h, bool& more) {
            form.Eng.RenderBuffer(reinterpret_cast<int16_t*>(h->lpData), h->dwBufferLength,
                                  h->dwBytesRecorded, more);
        };
        form.SetDspSource(&head); // FormCreate hands it the stream format
        form.SetTransportDevice(&transport);
        form.SetReverb(&reverb);
        form.FormCreate();
    }
    size_t PullAll(size_t limit) {
        size_t n = 0;
        while (n < limit && out.Pull()) ++n;
        return n;
    }
};

} // namespace

TEST(FormChain, LoopFillsEveryPulledBufferAndStopEndsThePulls) {
    Rig r;
    ASSERT_NE(r.head.GetWaveFormat(), nullptr);
    EXPECT_EQ(r.head.GetWaveFormat()->nSamplesPerSec, 44100u);
    EXPECT_EQ(r.head.GetWaveFormat()->nChannels, 1);
    EXPECT_EQ(r.head.GetWaveFormat()->wBitsPerSample, 16);
    EXPECT_FALSE(r.out.Pull()); // nothing plays before Loop
    r.form.Button1.Click();
    EXPECT_TRUE(r.out.Playing());
    EXPECT_EQ(r.PullAll(30), 30u);
    ASSERT_EQ(r.delivered.size(), 30u);
    bool sound = false;
    for (const auto& b : r.delivered) {
        EXPECT_EQ(b.size(), 441u);
        for (int16_t s : b) sound |= s != 0;
    }
    EXPECT_TRUE(sound);
    EXPECT_EQ(r.form.Eng.S.CurStep, 3); // 30 x 441 samples: steps 1, 2 and into 3
    r.form.Button2.Click();
    EXPECT_FALSE(r.out.Pull());
}

TEST(FormChain, TheSongEndsInsideABufferThatIsStillDeliveredWhole) {
    Rig r;
    r.form.Arranger1.Click();
    r.form.PhrasePatternSpin(1).SetValue(2);
    r.form.PhraseCountSpin(1).SetValue(1);
    r.form.Button1.Click();
    const size_t pulls = r.PullAll(1000);
    // Phrase 1 sounds 15 steps: 4725 + 14 x 4726 samples; the stop comes with the sample
    // after them, in buffer 70889 / 441 = 160 (from 0), which is delivered.
    EXPECT_EQ(pulls, 161u);
    EXPECT_FALSE(r.form.Eng.S.Playing);
    EXPECT_EQ(r.form.PlayPattern, 0);
    // Pressing Play again starts the song over.
    r.delivered.clear();
    r.form.Button1.Click();
    EXPECT_EQ(r.PullAll(1000), 161u);
}
