#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "audio/MMReverb.h"
#include "audio/DelayDepth.h"

using namespace zelvox;

namespace {

class Driver : public TMMCustomSoundComponent {};

// head -> reverb -> driver, fed from a vector of samples, pulled in buffers of 441 frames.
struct Rig {
    TMMDSPInterface head;
    TMMReverb reverb;
    Driver out;
    std::vector<uint8_t> input; // the source's bytes, in the stream format
    size_t readPos = 0;
    bool sourceEnds = false; // when the input runs out, answer MoreBuffers false
    int overflows = 0;
    WaveHdrPtr hdr;

    explicit Rig(WAVEFORMATEX f = PcmWaveFormat(16, 1, 44100), uint32_t bufferBytes = 882) {
        reverb.SetMaxDelay(2000);
        reverb.SetInputGain(100);
        reverb.SetOutputGain(100);
        reverb.SetInput(&head);
        reverb.SetOutput(&out);
        head.SetWaveFormat(&f);
        out.SetBufferSize(int32_t(bufferBytes));
        hdr = AllocWaveHdr(bufferBytes);
        reverb.OnPcmOverflow = [this](TObject*) { ++overflows; };
        head.OnBufferLoad = [this](TObject*, PWaveHdr h, bool& more) {
            const size_t n = std::min<size_t>(h->dwBufferLength, input.size() - readPos);
            if (n == 0 && sourceEnds) return;
            std::memcpy(h->lpData, input.data() + readPos, n);
            std::memset(h->lpData + n, 0, h->dwBufferLength - n);
            readPos += n;
            h->dwBytesRecorded = h->dwBufferLength;
            more = !(sourceEnds && readPos >= input.size());
        };
    }
    void Start() {
        out.Opened();
        out.Started();
    }
    // Pulls one buffer as the device does; returns MoreBuffers.
    bool Pull() {
        hdr->dwBufferLength = uint32_t(out.RealBufferSize());
        hdr->dwBytesRecorded = 0;
        bool more = false;
        out.BufferLoad(hdr.get(), more);
        return more;
    }
    void SetInput16(const std::vector<int16_t>& s) {
        input.resize(s.size() * 2);
        std::memcpy(input.data(), s.data(), input.size());
        readPos = 0;
    }
    // Runs the whole input through and returns the output samples.
    std::vector<int16_t> Run16(const std::vector<int16_t>& s) {
        SetInput16(s);
        std::vector<int16_t> y;
        while (readPos < input.size()) {
            Pull();
            const int16_t* p = reinterpret_cast<const int16_t*>(hdr->lpData);
            y.insert(y.end(), p, p + hdr->dwBytesRecorded / 2);
        }
        y.resize(s.size());
        return y;
    }
};

std::vector<int16_t> Impulse(size_t length, int16_t value, size_t at = 0) {
    std::vector<int16_t> v(length, 0);
    v[at] = value;
    return v;
}

} // namespace

TEST(Reverb, WithoutActiveEchoesTheBufferPassesBitForBit) {
    Rig rig;
    rig.reverb.SetInputGain(80); // the dry gain is not applied without taps
    rig.reverb.SetOutputGain(37);
    rig.reverb.Echos()[3].SetDelay(500); // a delay alone does not make a tap
    rig.Start();
    std::mt19937 gen(7);
    std::vector<int16_t> x(441 * 5);
    for (auto& s : x)
        s = int16_t(gen());
    EXPECT_EQ(rig.Run16(x), x);
}

TEST(Reverb, ImpulseResponseOfOneEcho) {
    Rig rig;
    rig.reverb.Echos()[0].SetDelay(100);
    rig.reverb.Echos()[0].SetGain(50);
    rig.Start();
    const auto y = rig.Run16(Impulse(441 * 12, 16384));
    std::vector<int16_t> expected(y.size(), 0);
    expected[0] = 16384;
    // The echo at half level, then the two-point smoothing of the wet path decays it.
    for (int k = 0; (4096 >> k) > 0; ++k)
        expected[4410 + k] = int16_t(4096 >> k);
    EXPECT_EQ(y, expected);
    EXPECT_EQ(rig.overflows, 0);
}

TEST(Reverb, ZeroDelayIsOneSampleAndLongDelaysClampToMaxDelay) {
    Rig zero;
    zero.reverb.Echos()[0].SetGain(50); // delay 0 ms
    zero.Start();
    auto y = zero.Run16(Impulse(882, 16384));
    EXPECT_EQ(y[0], 16384);
    EXPECT_EQ(y[1], 4096);
    EXPECT_EQ(y[2], 2048);

    Rig longer;
    longer.reverb.Echos()[0].SetDelay(3000);
    longer.reverb.Echos()[0].SetGain(50);
    longer.Start();
    ASSERT_NE(longer.reverb.Dsp(), nullptr);
    EXPECT_EQ(longer.reverb.Dsp()->Len, 131072); // 2000 ms at 44100 Hz
    y = longer.Run16(Impulse(441 * 201, 16384));
    EXPECT_EQ(y[88200], 4096);
    EXPECT_EQ(y[88199], 0);
    EXPECT_EQ(y[88201], 2048);
}

TEST(Reverb, DelayMemoryIsAPowerOfTwoCoveringMaxDelay) {
    Rig rig;
    rig.reverb.SetMaxDelay(250);
    rig.Start();
    ASSERT_NE(rig.reverb.Dsp(), nullptr);
    EXPECT_EQ(rig.reverb.Dsp()->Len, 16384); // 11025 samples needed
    rig.out.Closed();
    EXPECT_EQ(rig.reverb.Dsp(), nullptr);
}

TEST(Reverb, ClippingSaturatesAndReportsOncePerBuffer) {
    Rig rig;
    rig.reverb.Echos()[0].SetDelay(100);
    rig.reverb.Echos()[0].SetGain(50);
    rig.reverb.SetOutputGain(200);
    rig.Start();
    auto x = Impulse(441 * 12, 30000);
    x[4410] = 30000; // dry 30000 + echo 7500 * 2
    x[4411] = -30000;
    x[4412] = 30000;
    const auto y = rig.Run16(x);
    EXPECT_EQ(y[0], 30000);
    EXPECT_EQ(y[4410], 32767);
    EXPECT_EQ(rig.overflows, 1);
}

TEST(Reverb, RefusesFormatsItCannotProcess) {
    TMMReverb r;
    const auto good = PcmWaveFormat(16, 1, 44100);
    r.SetWaveFormat(&good);
    for (auto bad : {PcmWaveFormat(24, 1, 44100), PcmWaveFormat(16, 3, 44100),
                     PcmWaveFormat(16, 1, 3999), PcmWaveFormat(8, 2, 100001)}) {
        try {
            r.SetWaveFormat(&bad);
            ADD_FAILURE() << "accepted a bad format";
        } catch (const EMMReverbError& e) {
            EXPECT_STREQ(e.what(), "Invalid WaveFormat");
        }
        ASSERT_NE(r.GetWaveFormat(), nullptr);
        EXPECT_EQ(r.GetWaveFormat()->wBitsPerSample, 16); // the previous format stays
    }
    WAVEFORMATEX adpcm = good;
    adpcm.wFormatTag = 2;
    EXPECT_THROW(r.SetWaveFormat(&adpcm), EMMReverbError);
    r.SetWaveFormat(nullptr);
    EXPECT_EQ(r.GetWaveFormat(), nullptr);
}

TEST(Reverb, EightBitMonoRunsTheSameMachineOnWidenedSamples) {
    Rig rig(PcmWaveFormat(8, 1, 44100), 441);
    rig.reverb.Echos()[0].SetDelay(100);
    rig.reverb.Echos()[0].SetGain(50);
    rig.Start();
    rig.input.assign(441 * 12, 128);
    rig.input[0] = 192; // +16384 once widened
    std::vector<uint8_t> y;
    while (rig.readPos < rig.input.size()) {
        rig.Pull();
        y.insert(y.end(), rig.hdr->lpData, rig.hdr->lpData + rig.hdr->dwBytesRecorded);
    }
    EXPECT_EQ(y[0], 192);
    EXPECT_EQ(y[1], 128);
    EXPECT_EQ(y[4409], 128);
    EXPECT_EQ(y[4410], 144); // 4096 >> 8 above the middle
    EXPECT_EQ(y[4411], 136);
    EXPECT_EQ(y[4412], 132);
}

TEST(Reverb, StereoPanFeedsEachDrySignalIntoTheOtherEcho) {
    Rig rig(PcmWaveFormat(16, 2, 44100), 1764);
    rig.reverb.Echos()[0].SetDelay(100);
    rig.reverb.Echos()[0].SetGain(50);
    rig.reverb.SetInputPan(50);
    rig.Start();
    std::vector<int16_t> x(2 * 441 * 12, 0);
    x[0] = 16384; // left only
    const auto y = rig.Run16(x);
    EXPECT_EQ(y[0], 16384);
    EXPECT_EQ(y[1], 0);
    EXPECT_EQ(y[2 * 4410], 4096);     // left echo
    EXPECT_EQ(y[2 * 4410 + 1], 2048); // right echo of the left dry signal at half level
    EXPECT_EQ(y[2 * 4411], 2048);
    EXPECT_EQ(y[2 * 4411 + 1], 1024);
}

TEST(Reverb, TheWetOutputIsTheEchoReturnAndChangesNothing) {
    for (uint16_t channels : {uint16_t(1), uint16_t(2)}) {
        SCOPED_TRACE(channels);
        const uint32_t bufferSamples = 441u * channels;
        auto make = [&](Rig& r) {
            r.reverb.Echos()[0].SetDelay(30);
            r.reverb.Echos()[0].SetGain(50);
            r.reverb.Echos()[1].SetDelay(70);
            r.reverb.Echos()[1].SetGain(40);
            r.reverb.SetOutputGain(70);
            r.reverb.SetFeedBack(30);
            r.reverb.SetInputPan(channels == 2 ? 40 : 0);
            r.Start();
        };
        Rig plain(PcmWaveFormat(16, channels, 44100), bufferSamples * 2);
        Rig tapped(PcmWaveFormat(16, channels, 44100), bufferSamples * 2);
        make(plain);
        make(tapped);
        // Room for all but the last 10 samples of a buffer: those stay as they were.
        std::vector<int16_t> wet(bufferSamples, 0);
        tapped.reverb.SetWetOutput(wet.data(), bufferSamples - 10);

        std::mt19937 gen(11);
        std::vector<int16_t> x(bufferSamples * 20);
        for (auto& v : x)
            v = int16_t(int(gen() % 16001) - 8000); // loud, but no sum clips
        const std::vector<int16_t> y = plain.Run16(x);
        tapped.SetInput16(x);
        size_t echoing = 0;
        for (size_t b = 0; b < 20; ++b) {
            std::fill(wet.begin(), wet.end(), int16_t(12345));
            tapped.Pull();
            const int16_t* out = reinterpret_cast<const int16_t*>(tapped.hdr->lpData);
            for (size_t i = 0; i < bufferSamples; ++i) {
                const size_t at = b * bufferSamples + i;
                ASSERT_EQ(out[i], y[at]) << "the output is the same with the wet output on";
                if (i >= bufferSamples - 10) {
                    ASSERT_EQ(wet[i], 12345) << "written beyond the room given";
                    continue;
                }
                ASSERT_EQ(wet[i], y[at] - x[at]) << "sample " << at; // dry gain 100 %: y = x + wet
                echoing += wet[i] != 0;
            }
        }
        EXPECT_GT(echoing, x.size() / 2);
        EXPECT_EQ(plain.overflows + tapped.overflows, 0);
    }
}

TEST(Reverb, GainChangesKeepTheMemoryButEchoChangesClearIt) {
    Rig gain;
    gain.reverb.Echos()[0].SetDelay(100);
    gain.reverb.Echos()[0].SetGain(50);
    gain.Start();
    gain.SetInput16(Impulse(441 * 12, 16384));
    for (int i = 0; i < 5; ++i)
        gain.Pull();
    gain.reverb.SetOutputGain(50); // round(50 * 256 / 100) = 128
    std::vector<int16_t> y;
    while (gain.readPos < gain.input.size()) {
        gain.Pull();
        const int16_t* p = reinterpret_cast<const int16_t*>(gain.hdr->lpData);
        y.insert(y.end(), p, p + 441);
    }
    EXPECT_EQ(y[4410 - 5 * 441], 2048);

    Rig echo;
    echo.reverb.Echos()[0].SetDelay(100);
    echo.reverb.Echos()[0].SetGain(50);
    echo.Start();
    echo.SetInput16(Impulse(441 * 12, 16384));
    for (int i = 0; i < 5; ++i)
        echo.Pull();
    echo.reverb.Echos()[0].SetGain(51);
    int16_t peak = 0;
    while (echo.readPos < echo.input.size()) {
        echo.Pull();
        const int16_t* p = reinterpret_cast<const int16_t*>(echo.hdr->lpData);
        for (int i = 0; i < 441; ++i)
            peak = std::max<int16_t>(peak, p[i]);
    }
    EXPECT_EQ(peak, 0);
}

TEST(Reverb, DisabledPassesEverythingUntouched) {
    Rig rig;
    rig.reverb.Echos()[0].SetDelay(10);
    rig.reverb.Echos()[0].SetGain(50);
    rig.reverb.SetInputGain(50);
    rig.reverb.SetEnabled(false);
    rig.Start();
    const auto x = Impulse(441 * 3, 1000);
    EXPECT_EQ(rig.Run16(x), x);
}

TEST(Reverb, TheEchoRingsOutAfterTheSourceEnds) {
    Rig rig;
    rig.reverb.Echos()[0].SetDelay(100);
    rig.reverb.Echos()[0].SetGain(50);
    rig.reverb.SetFeedBack(50);
    rig.sourceEnds = true;
    rig.Start();
    // |FeedBack| * longest delay (ms) * rate / 1000
    EXPECT_EQ(rig.reverb.TailCount(), 50 * 100 * 44100 / 1000);
    rig.SetInput16(Impulse(441, 16384));
    // The source's own last buffer is processed, and the reverb asks for the tail.
    EXPECT_TRUE(rig.Pull());
    EXPECT_EQ(reinterpret_cast<int16_t*>(rig.hdr->lpData)[0], 16384);
    EXPECT_EQ(rig.hdr->dwBytesRecorded, 882u);
    int tailBuffers = 0;
    int16_t firstEcho = 0;
    while (rig.Pull()) {
        ++tailBuffers;
        EXPECT_EQ(rig.hdr->dwBytesRecorded, 882u);
        if (tailBuffers == 10) firstEcho = reinterpret_cast<int16_t*>(rig.hdr->lpData)[0];
    }
    EXPECT_EQ(tailBuffers, 220500 / 882 - 1); // the last one answers false
    EXPECT_EQ(firstEcho, 4096);               // 4410 samples after the impulse
    EXPECT_FALSE(rig.Pull());
}

TEST(Reverb, AnEmptyLastBufferBecomesSilenceNotStaleBytes) {
    Rig rig;
    rig.reverb.Echos()[0].SetDelay(100);
    rig.reverb.Echos()[0].SetGain(50);
    rig.sourceEnds = true;
    rig.Start();
    rig.SetInput16(std::vector<int16_t>(441, 1234));
    rig.Pull();
    EXPECT_EQ(reinterpret_cast<int16_t*>(rig.hdr->lpData)[5], 1234);
    EXPECT_FALSE(rig.Pull()); // the source delivers nothing now
    EXPECT_EQ(rig.hdr->dwBytesRecorded, 882u);
    for (int i = 0; i < 441; ++i)
        ASSERT_EQ(reinterpret_cast<int16_t*>(rig.hdr->lpData)[i], 0);
}

TEST(ReverbStream, RoundTripAndExactLayout) {
    TMMReverb a;
    a.SetMaxDelay(2000);
    a.Echos()[1].SetDelay(429);
    a.Echos()[1].SetGain(-50);
    a.SetFeedBack(-3);
    a.SetInputPan(-20);
    const auto bytes = a.WriteEchoData();
    ASSERT_EQ(bytes.size(), 39u + 8 * (1 + 7 + 8));
    EXPECT_EQ(std::memcmp(bytes.data(), "RVB\0\1\x08\0\0\0Untitled", 17), 0);
    EXPECT_EQ(bytes[17] | bytes[18] << 8, 2000); // MaxDelay
    EXPECT_EQ(bytes[21], 80);                    // InputGain
    EXPECT_EQ(bytes[25], 0xEC);                  // InputPan -20
    EXPECT_EQ(bytes[29], 100);                   // OutputGain
    EXPECT_EQ(bytes[33], 0xFD);                  // FeedBack -3
    EXPECT_EQ(bytes[37] | bytes[38] << 8, 8);    // echo count
    EXPECT_EQ(std::memcmp(bytes.data() + 39, "\x07TMMEcho", 8), 0);

    TMMReverb b;
    int changes = 0;
    b.OnChange = [&](TObject*) { ++changes; };
    b.ReadEchoData(bytes.data(), bytes.size());
    EXPECT_EQ(b.WriteEchoData(), bytes);
    EXPECT_EQ(b.Echos()[1].Delay(), 429);
    EXPECT_EQ(b.FeedBack(), -3);
    EXPECT_EQ(changes, 1);
}

TEST(ReverbStream, DamagedBlocksAreRefusedAndChangeNothing) {
    TMMReverb a;
    a.Echos()[0].SetGain(50);
    auto good = a.WriteEchoData();
    TMMReverb b;
    b.SetDescription("mine");
    const auto before = b.WriteEchoData();
    auto badMagic = good;
    badMagic[2] = 'X';
    for (size_t cut : {size_t(0), size_t(3), size_t(20), good.size() - 1}) {
        try {
            b.ReadEchoData(good.data(), cut);
            ADD_FAILURE() << "accepted " << cut << " bytes";
        } catch (const EMMReverbError& e) {
            EXPECT_STREQ(e.what(), "Invalid Object stream");
        }
    }
    EXPECT_THROW(b.ReadEchoData(badMagic.data(), badMagic.size()), EMMReverbError);
    auto hugeName = good;
    hugeName[5] = 0xFF; // description length far past the end
    hugeName[8] = 0x7F;
    EXPECT_THROW(b.ReadEchoData(hugeName.data(), hugeName.size()), EMMReverbError);
    EXPECT_EQ(b.WriteEchoData(), before);
}

TEST(DelayDepth, StartupAndKnobs) {
    TMMReverb r;
    r.SetMaxDelay(2000);
    r.Echos()[0].SetDelay(7);
    DelayDepthStartup(r);
    EXPECT_EQ(r.InputGain(), 100);
    EXPECT_TRUE(r.Enabled());
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(r.Echos()[i].Delay(), 0);
    EXPECT_EQ(r.Echos()[0].Gain(), 0); // no tap until the knob moves

    EXPECT_EQ(DelayMilliseconds(140, 4), 429);
    EXPECT_EQ(DelayMilliseconds(20, 3), 2250);
    EXPECT_EQ(DelayMilliseconds(140, 0), 0);
    EXPECT_EQ(DelayMilliseconds(240, 16), 1000);

    DelayKnobChanged(r, 140, 4, 26125);
    EXPECT_EQ(r.Echos()[0].Delay(), 429);
    EXPECT_EQ(r.Echos()[0].Gain(), 50);
    // With the master volume at 0 only the gain is (re)set.
    r.Echos()[0].SetGain(0);
    DelayKnobChanged(r, 140, 8, 0);
    EXPECT_EQ(r.Echos()[0].Delay(), 429);
    EXPECT_EQ(r.Echos()[0].Gain(), 50);

    DepthKnobChanged(r, 73);
    EXPECT_EQ(r.OutputGain(), 73);
}

TEST(DelayDepth, TheKnobsDriveTheRunningEcho) {
    Rig rig;
    DelayDepthStartup(rig.reverb);
    rig.Start();
    DelayKnobChanged(rig.reverb, 20, 3, 26125); // 2250 ms, clamped to 2000
    const ReverbDsp* d = rig.reverb.Dsp();
    ASSERT_NE(d, nullptr);
    ASSERT_EQ(d->NumTaps, 1);
    EXPECT_EQ(d->TapPos[0], d->Len - 88200);
    DelayKnobChanged(rig.reverb, 140, 0, 26125); // 0 ms: one sample
    EXPECT_EQ(d->TapPos[0], d->Len - 1);
    DepthKnobChanged(rig.reverb, 50);
    EXPECT_EQ(d->WetGain, 128);
    EXPECT_EQ(d->TapGain[0], 128);
}
