#include <gtest/gtest.h>

#include <vector>

#include "audio/MMReverb.h"
#include "audio/OfflineOut.h"

using namespace zelvox;

namespace {

struct Chain {
    TMMDSPInterface head;
    TMMReverb reverb;
    TMMOfflineOut out;
    TMMDSPComponent sink;
    int loads = 0;
    int stopAtLoad = -1; // ask for a stop from inside this load
    int endAtLoad = -1;  // answer MoreBuffers false on this load
    int emptyAtLoad = -1;
    std::vector<uint32_t> delivered;
    Chain() {
        reverb.SetInput(&head);
        reverb.SetOutput(&out);
        out.SetOutput(&sink);
        const auto f = PcmWaveFormat(16, 1, 44100);
        head.SetWaveFormat(&f);
        head.OnBufferLoad = [this](TObject*, PWaveHdr h, bool& more) {
            const int n = loads++;
            if (n == emptyAtLoad) return;
            h->dwBytesRecorded = h->dwBufferLength;
            more = n != endAtLoad;
            if (n == stopAtLoad) out.Stop();
        };
        sink.OnBufferReady = [this](TObject*, PWaveHdr h) {
            delivered.push_back(h->dwBytesRecorded);
        };
    }
};

} // namespace

TEST(OfflineOut, StartOpensTheChainAndEveryPullIsDeliveredWhole) {
    Chain c;
    c.out.Start();
    EXPECT_TRUE(c.reverb.IsOpened());
    EXPECT_TRUE(c.sink.IsStarted());
    EXPECT_EQ(c.out.RealBufferSize(), 882);
    for (int i = 0; i < 5; ++i)
        EXPECT_TRUE(c.out.Pull());
    EXPECT_EQ(c.delivered, std::vector<uint32_t>(5, 882));
    c.out.Close();
    EXPECT_FALSE(c.sink.IsOpened());
    EXPECT_FALSE(c.reverb.IsOpened());
}

TEST(OfflineOut, AStopFromInsideALoadEndsAfterThatBufferIsDelivered) {
    Chain c;
    c.stopAtLoad = 2;
    c.out.Start();
    int pulls = 0;
    while (c.out.Pull())
        ++pulls;
    EXPECT_EQ(c.delivered.size(), 3u); // the buffer in which the stop came is included
    EXPECT_FALSE(c.out.Playing());
    EXPECT_FALSE(c.sink.IsStarted());
}

TEST(OfflineOut, TheSourceEndingOrDeliveringNothingEndsPlayback) {
    Chain ended;
    ended.endAtLoad = 1;
    ended.out.Start();
    while (ended.out.Pull()) {
    }
    EXPECT_EQ(ended.delivered.size(), 2u);

    Chain empty;
    empty.emptyAtLoad = 3;
    empty.out.Start();
    while (empty.out.Pull()) {
    }
    // The echo turns the source's empty answer into one last buffer of silence.
    EXPECT_EQ(empty.delivered.size(), 4u);
    EXPECT_FALSE(empty.out.Playing());
    const auto* h = empty.out.LastBuffer();
    for (uint32_t i = 0; i < h->dwBytesRecorded; ++i)
        ASSERT_EQ(h->lpData[i], 0);
    // Without the echo nothing is delivered for it.
    Chain bare;
    bare.reverb.SetEnabled(false);
    bare.emptyAtLoad = 3;
    bare.out.Start();
    while (bare.out.Pull()) {
    }
    EXPECT_EQ(bare.delivered.size(), 3u);
}
