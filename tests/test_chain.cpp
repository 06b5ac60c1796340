#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "audio/MMDSPObj.h"
#include "files/MMObserver.h"

using namespace zelvox;

namespace {

// A plain chain member that logs its life-cycle calls.
class Probe : public TMMDSPComponent {
public:
    Probe(std::string name, std::vector<std::string>* log) : Name(std::move(name)), Log(log) {}
    void Opened() override {
        Log->push_back("open " + Name + " " + std::to_string(GetBufferSize()));
        TMMDSPComponent::Opened();
    }
    void Closed() override {
        Log->push_back("close " + Name);
        TMMDSPComponent::Closed();
    }
    void Started() override {
        Log->push_back("start " + Name);
        TMMDSPComponent::Started();
    }
    void Stopped() override {
        Log->push_back("stop " + Name);
        TMMDSPComponent::Stopped();
    }
    void Flushed() override { Log->push_back("flush " + Name); }
    std::string Name;
    std::vector<std::string>* Log;
};

// A sound component standing in for the output device.
class Driver : public TMMCustomSoundComponent {
public:
    Driver(std::string name, std::vector<std::string>* log) : Name(std::move(name)), Log(log) {}
    void Opened() override {
        Log->push_back("open " + Name);
        TMMCustomSoundComponent::Opened();
    }
    void Closed() override {
        Log->push_back("close " + Name);
        TMMCustomSoundComponent::Closed();
    }
    void Stopped() override {
        Log->push_back("stop " + Name);
        TMMCustomSoundComponent::Stopped();
    }
    // The real device closes itself when its format changes.
    void SetWaveFormat(PWaveFormatEx f) override {
        if (!f) Log->push_back("format none " + Name);
        TMMCustomSoundComponent::SetWaveFormat(f);
    }
    void Played(PWaveHdr h) { DeliverBufferReady(h); }
    std::string Name;
    std::vector<std::string>* Log;
};

const WAVEFORMATEX kProgramFormat = PcmWaveFormat(16, 1, 44100);

// The program's chain: head -> reverb stand-in -> device -> sink stand-in.
struct Chain {
    std::vector<std::string> log;
    TMMDSPInterface head;
    Probe reverb{"reverb", &log};
    Driver out{"out", &log};
    Probe sink{"sink", &log};
    Chain() {
        reverb.SetInput(&head);
        reverb.SetOutput(&out);
        out.SetOutput(&sink);
        out.SetBufferSize(882);
        head.SetWaveFormat(&kProgramFormat);
        log.clear();
    }
};

void ExpectSameFormat(PWaveFormatEx f) {
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->wFormatTag, 1);
    EXPECT_EQ(f->nChannels, 1);
    EXPECT_EQ(f->nSamplesPerSec, 44100u);
    EXPECT_EQ(f->nAvgBytesPerSec, 88200u);
    EXPECT_EQ(f->nBlockAlign, 2);
    EXPECT_EQ(f->wBitsPerSample, 16);
}

} // namespace

TEST(ChainLinks, SelfLinksAndCyclesAreRefusedSilently) {
    TMMDSPComponent a, b, c;
    a.SetInput(&a);
    a.SetOutput(&a);
    EXPECT_EQ(a.Input(), nullptr);
    EXPECT_EQ(a.Output(), nullptr);

    a.SetOutput(&b);
    b.SetOutput(&c);
    // c lies downstream of a: either way round it would close a loop.
    a.SetInput(&c);
    c.SetOutput(&a);
    b.SetInput(&c);
    EXPECT_EQ(a.Input(), nullptr);
    EXPECT_EQ(a.Output(), &b);
    EXPECT_EQ(b.Input(), &a);
    EXPECT_EQ(b.Output(), &c);
    EXPECT_EQ(c.Input(), &b);
    EXPECT_EQ(c.Output(), nullptr);
}

TEST(ChainLinks, LinksStaySymmetricWhenMoved) {
    TMMDSPComponent a, b, d, e;
    a.SetOutput(&b);
    EXPECT_EQ(b.Input(), &a);
    b.SetInput(&d); // moving b to another input clears a's output
    EXPECT_EQ(a.Output(), nullptr);
    EXPECT_EQ(d.Output(), &b);
    e.SetOutput(&b); // and taking b as output clears d's
    EXPECT_EQ(d.Output(), nullptr);
    EXPECT_EQ(b.Input(), &e);
    b.SetInput(nullptr);
    EXPECT_EQ(e.Output(), nullptr);
    EXPECT_EQ(b.Input(), nullptr);
}

TEST(ChainFormat, TravelsDownstreamAsCopies) {
    Chain ch;
    for (TMMDSPComponent* c :
         std::initializer_list<TMMDSPComponent*>{&ch.head, &ch.reverb, &ch.out, &ch.sink})
        ExpectSameFormat(c->GetWaveFormat());
    EXPECT_NE(ch.head.GetWaveFormat(), ch.reverb.GetWaveFormat());
    EXPECT_NE(ch.reverb.GetWaveFormat(), ch.sink.GetWaveFormat());
    // Linking a new component behind the sink pushes the format to it.
    TMMDSPComponent extra;
    ch.sink.SetOutput(&extra);
    ExpectSameFormat(extra.GetWaveFormat());
}

TEST(ChainFormat, RemovingALinkRemovesTheFormatDownstreamAndStopsTheDevice) {
    Chain ch;
    ch.reverb.SetInput(nullptr);
    EXPECT_NE(ch.head.GetWaveFormat(), nullptr);
    EXPECT_EQ(ch.reverb.GetWaveFormat(), nullptr);
    EXPECT_EQ(ch.out.GetWaveFormat(), nullptr);
    EXPECT_EQ(ch.sink.GetWaveFormat(), nullptr);
    EXPECT_EQ(ch.head.Output(), nullptr);
    // The device was told on the way (it closes itself there).
    EXPECT_NE(std::find(ch.log.begin(), ch.log.end(), "format none out"), ch.log.end());
    // Relinking pulls the format back.
    ch.reverb.SetInput(&ch.head);
    ExpectSameFormat(ch.sink.GetWaveFormat());
}

TEST(ChainFormat, DestroyingALinkedComponentUnlinksItsNeighbours) {
    TMMDSPInterface head;
    TMMDSPComponent tail;
    {
        TMMDSPComponent mid;
        mid.SetInput(&head);
        mid.SetOutput(&tail);
        head.SetWaveFormat(&kProgramFormat);
        ExpectSameFormat(tail.GetWaveFormat());
    }
    EXPECT_EQ(head.Output(), nullptr);
    EXPECT_EQ(tail.Input(), nullptr);
    EXPECT_EQ(tail.GetWaveFormat(), nullptr);
}

TEST(ChainBuffers, RealBufferSizeIsWholeFramesAndAtLeastOne) {
    TMMDSPComponent c;
    c.SetWaveFormat(&kProgramFormat);
    c.SetBufferSize(883);
    c.Opened();
    EXPECT_EQ(c.RealBufferSize(), 882);
    EXPECT_EQ(c.GetBufferSize(), 882);
    c.Closed();
    EXPECT_EQ(c.GetBufferSize(), 883);
    c.SetBufferSize(1);
    c.Opened();
    EXPECT_EQ(c.RealBufferSize(), 2);
    c.Closed();
    // Without a format (or with a damaged one) the configured size is taken as is.
    TMMDSPComponent bare;
    bare.SetBufferSize(883);
    bare.Opened();
    EXPECT_EQ(bare.RealBufferSize(), 883);
    WAVEFORMATEX broken = kProgramFormat;
    broken.nBlockAlign = 0;
    TMMDSPComponent d;
    d.SetWaveFormat(&broken);
    d.SetBufferSize(883);
    d.Opened();
    EXPECT_EQ(d.RealBufferSize(), 883);
}

TEST(ChainWalks, OpenNotifiesHeadThenReverbThenSinkWithTheDeviceBufferSize) {
    Chain ch;
    std::vector<std::string> order;
    ch.head.OnOpen = [&](TObject*) { order.push_back("head"); };
    ch.out.SetBufferSize(883);
    ch.out.Opened();
    EXPECT_EQ(order, std::vector<std::string>{"head"});
    EXPECT_EQ(ch.log, (std::vector<std::string>{"open out", "open reverb 883", "open sink 883"}));
    EXPECT_EQ(ch.head.RealBufferSize(), 882);
    EXPECT_EQ(ch.reverb.RealBufferSize(), 882);
    EXPECT_EQ(ch.out.RealBufferSize(), 882);
    EXPECT_EQ(ch.sink.RealBufferSize(), 882);
    EXPECT_FALSE(ch.out.FedBySound());
}

TEST(ChainWalks, StartAndStopReachEveryMemberAndEventsFireOnlyOnRealChanges) {
    Chain ch;
    int starts = 0, stops = 0, closes = 0;
    ch.head.OnStart = [&](TObject*) { ++starts; };
    ch.head.OnStop = [&](TObject*) { ++stops; };
    ch.head.OnClose = [&](TObject*) { ++closes; };
    ch.out.Started(); // not opened: no one starts
    EXPECT_EQ(starts, 0);
    EXPECT_FALSE(ch.reverb.IsStarted());
    ch.out.Opened();
    ch.log.clear();
    ch.out.Started();
    EXPECT_EQ(starts, 1);
    EXPECT_TRUE(ch.reverb.IsStarted());
    EXPECT_TRUE(ch.sink.IsStarted());
    EXPECT_TRUE(ch.out.IsStarted());
    ch.log.clear();
    ch.out.Stopped();
    // The sound component downstream first (none here), then from the head.
    EXPECT_EQ(ch.log, (std::vector<std::string>{"stop out", "stop reverb", "stop sink"}));
    EXPECT_EQ(stops, 1);
    ch.out.Stopped();
    EXPECT_EQ(stops, 1);
    ch.out.Closed();
    ch.out.Closed();
    EXPECT_EQ(closes, 1);
    EXPECT_FALSE(ch.sink.IsOpened());
}

TEST(ChainWalks, ASecondSoundComponentEndsTheWalkAndIsFedBySound) {
    std::vector<std::string> log;
    TMMDSPInterface head;
    Driver first("first", &log);
    Probe mid("mid", &log);
    Driver second("second", &log);
    Probe after("after", &log);
    first.SetInput(&head);
    first.SetOutput(&mid);
    mid.SetOutput(&second);
    second.SetOutput(&after);
    head.SetWaveFormat(&kProgramFormat);
    log.clear();
    first.SetBufferSize(882);
    first.Opened();
    // The first sound component downstream is opened and ends the walk; its own walk opens
    // what lies behind it, starting from itself because it is fed by sound.
    EXPECT_EQ(log, (std::vector<std::string>{"open first", "open mid 882", "open second",
                                             "open after 882"}));
    EXPECT_FALSE(first.FedBySound());
    EXPECT_TRUE(second.FedBySound());
    log.clear();
    first.Stopped();
    // The nearest sound component downstream first, then the plain members up to it.
    EXPECT_EQ(log,
              (std::vector<std::string>{"stop first", "stop second", "stop after", "stop mid"}));
}

TEST(ChainBuffers, LoadPullsThroughAndFilledNeedsBytes) {
    Chain ch;
    auto hdr = AllocWaveHdr(882);
    std::vector<std::string> order;
    int filled = 0;
    ch.head.OnBufferLoad = [&](TObject*, PWaveHdr h, bool& more) {
        order.push_back("render");
        h->dwBytesRecorded = h->dwBufferLength;
        more = true;
    };
    ch.out.OnBufferLoad = [&](TObject*, PWaveHdr, bool&) { order.push_back("out"); };
    ch.out.OnBufferFilled = [&](TObject*, PWaveHdr) { ++filled; };
    bool more = false;
    ch.out.BufferLoad(hdr.get(), more);
    EXPECT_EQ(order, (std::vector<std::string>{"out", "render"}));
    EXPECT_TRUE(more);
    EXPECT_EQ(filled, 1);
    // A load that produced nothing raises no OnBufferFilled.
    ch.head.OnBufferLoad = nullptr;
    hdr->dwBytesRecorded = 0;
    more = false;
    ch.out.BufferLoad(hdr.get(), more);
    EXPECT_EQ(filled, 1);
    EXPECT_FALSE(more);
}

TEST(ChainBuffers, BufferReadyStopsAtASoundComponentAndTheDriverHandsItOn) {
    Chain ch;
    auto hdr = AllocWaveHdr(16);
    std::vector<std::string> seen;
    ch.reverb.OnBufferReady = [&](TObject*, PWaveHdr) { seen.push_back("reverb"); };
    ch.sink.OnBufferReady = [&](TObject*, PWaveHdr) { seen.push_back("sink"); };
    ch.head.BufferReady(hdr.get());
    EXPECT_EQ(seen, std::vector<std::string>{"reverb"});
    seen.clear();
    ch.out.Played(hdr.get());
    EXPECT_EQ(seen, std::vector<std::string>{"sink"});
}

TEST(ChainBuffers, HeaderAndSampleBytesShareOneZeroedBlock) {
    auto hdr = AllocWaveHdr(882);
    EXPECT_EQ(hdr->lpData, reinterpret_cast<uint8_t*>(hdr.get()) + sizeof(TMMWaveHdr));
    EXPECT_EQ(hdr->dwBufferLength, 882u);
    for (uint32_t i = 0; i < 882; ++i)
        ASSERT_EQ(hdr->lpData[i], 0);
    EXPECT_EQ(hdr->dwFlags | hdr->dwBytesRecorded | uint32_t(hdr->LoopDone), 0u);
}

TEST(ChainFormatHelpers, PcmFormatAndConversions) {
    EXPECT_EQ(MulDivRound(5, 1, 2), 3); // halves round up
    EXPECT_EQ(MulDivRound(4, 1, 3), 1);
    EXPECT_EQ(MulDivRound(2000000000, 3, 4), 1500000000); // needs the 64-bit product
    EXPECT_EQ(MulDivRound(7, 1, 0), 0);
    const auto f = kProgramFormat;
    EXPECT_EQ(wioBytesToSamples(f, 882), 441);
    EXPECT_EQ(wioSamplesToBytes(f, 441), 882);
    EXPECT_EQ(wioSamplesToTime(f, 4410), 100);
    EXPECT_EQ(wioTimeToSamples(f, 429), 18919);
    // Bytes round up to whole frames.
    WAVEFORMATEX odd = f;
    odd.wFormatTag = 2;
    odd.nSamplesPerSec = 3;
    odd.nAvgBytesPerSec = 4;
    odd.nBlockAlign = 2;
    EXPECT_EQ(wioSamplesToBytes(odd, 1), 2);
    EXPECT_EQ(WaveFormatSize(f), 18u);
    odd.cbSize = 2;
    odd.Extra = {1, 2};
    EXPECT_EQ(WaveFormatSize(odd), 20u);
    auto c = CopyWaveFormat(&odd);
    EXPECT_EQ(c->Extra, (std::vector<uint8_t>{1, 2}));
    WAVEFORMATEX pcmWithExtra = f;
    pcmWithExtra.cbSize = 5;
    EXPECT_EQ(CopyWaveFormat(&pcmWithExtra)->cbSize, 0);
    EXPECT_TRUE(IsValidPcmFormat(&f));
    auto eight = PcmWaveFormat(8, 2, 4000);
    EXPECT_EQ(eight.nBlockAlign, 2);
    EXPECT_TRUE(IsValidPcmFormat(&eight));
    auto tooFast = PcmWaveFormat(16, 1, 100001);
    auto threeCh = PcmWaveFormat(16, 3, 44100);
    auto twentyFour = PcmWaveFormat(24, 1, 44100);
    EXPECT_FALSE(IsValidPcmFormat(&tooFast));
    EXPECT_FALSE(IsValidPcmFormat(&threeCh));
    EXPECT_FALSE(IsValidPcmFormat(&twentyFour));
    EXPECT_FALSE(IsValidPcmFormat(nullptr));
}

TEST(Observer, NotifiesLastAttachedFirstAndHonoursLocksAndLifetimes) {
    std::vector<std::string> seen;
    TMMObservable subject;
    TMMObserver a, b;
    // Appended, not "a" + std::to_string(v): GCC 12 at -O3 warns falsely on that (-Wrestrict).
    auto note = [&](const char* who, intptr_t v) {
        seen.push_back(std::string(who).append(std::to_string(v)));
    };
    a.OnChange = [&](TMMObserver*, intptr_t v) { note("a", v); };
    b.OnChange = [&](TMMObserver*, intptr_t v) { note("b", v); };
    subject.AddObserver(&a);
    subject.AddObserver(&b);
    subject.NotifyObservers(7);
    EXPECT_EQ(seen, (std::vector<std::string>{"b7", "a7"}));
    seen.clear();
    b.Lock();
    subject.NotifyObservers(1);
    EXPECT_EQ(seen, std::vector<std::string>{"a1"});
    b.Unlock();
    seen.clear();
    subject.Lock();
    subject.NotifyObservers(2);
    EXPECT_TRUE(seen.empty());
    subject.Unlock();
    // Attaching to another observable detaches from the first.
    TMMObservable other;
    other.AddObserver(&a);
    EXPECT_EQ(subject.Count(), 1);
    EXPECT_EQ(a.Observable(), &other);
    {
        TMMObserver shortLived;
        subject.AddObserver(&shortLived);
        EXPECT_EQ(subject.Count(), 2);
    }
    EXPECT_EQ(subject.Count(), 1);
    {
        TMMObservable gone;
        gone.AddObserver(&b);
    }
    EXPECT_EQ(b.Observable(), nullptr);
}
