#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

#include "audio/MMWaveFile.h"
#include "support/TempFiles.h"

using namespace zelvox;
using namespace zelvox::test;
namespace fs = std::filesystem;

namespace {

// Stands in for the output device: opens and starts the chain, pulls each buffer and hands
// it downstream after "playing" it.
class Device : public TMMCustomSoundComponent {
public:
    WaveHdrPtr hdr = AllocWaveHdr(882);
    void Open() { Opened(); }
    void Start() { Started(); }
    void Stop() { Stopped(); }
    void Close() { Closed(); }
    void Play(int buffers) {
        for (int i = 0; i < buffers; ++i) {
            hdr->dwBufferLength = uint32_t(RealBufferSize());
            hdr->dwBytesRecorded = 0;
            bool more = false;
            BufferLoad(hdr.get(), more);
            hdr->dwBufferLength = hdr->dwBytesRecorded;
            DeliverBufferReady(hdr.get());
        }
    }
};

// The program's recording set-up: source -> device -> sink, driven as "Record to wav" does.
struct Recorder {
    TMMDSPInterface head;
    Device dev;
    TMMWaveFile sink;
    int16_t next = 1; // the source writes 1, 2, 3, ...
    int readyCalls = 0;

    Recorder() {
        const auto f = PcmWaveFormat(16, 1, 44100);
        dev.SetInput(&head);
        dev.SetOutput(&sink);
        dev.SetBufferSize(882);
        head.SetWaveFormat(&f);
        sink.SetEnabled(false);
        sink.Wave().SetFileMustExist(false);
        head.OnBufferLoad = [this](TObject*, PWaveHdr h, bool& more) {
            auto* s = reinterpret_cast<int16_t*>(h->lpData);
            for (uint32_t i = 0; i < h->dwBufferLength / 2; ++i)
                s[i] = next++;
            h->dwBytesRecorded = h->dwBufferLength;
            more = true;
        };
        sink.OnBufferReady = [this](TObject*, PWaveHdr) { ++readyCalls; };
    }
    void Arm(const std::string& file) {
        dev.Close();
        sink.Wave().SetFileName(file);
        dev.Open();
        sink.SetEnabled(true);
    }
    void StopRecording() {
        dev.Stop();
        sink.SetEnabled(false);
        sink.Wave().SetFileName("");
    }
};

void ExpectProgramHeader(const std::vector<uint8_t>& b, uint32_t n, bool withFact = true) {
    ASSERT_GE(b.size(), 46u);
    EXPECT_EQ(Tag(b, 0), "RIFF");
    EXPECT_EQ(U32(b, 4), (withFact ? 50 : 38) + n + (n & 1));
    EXPECT_EQ(Tag(b, 8), "WAVE");
    EXPECT_EQ(Tag(b, 12), "fmt ");
    const uint8_t fmt[] = {18, 0,    0,    0,    1, 0, 1, 0,  0x44, 0xAC, 0,
                           0,  0x88, 0x58, 0x01, 0, 2, 0, 16, 0,    0,    0};
    EXPECT_EQ(std::memcmp(b.data() + 16, fmt, sizeof fmt), 0);
    EXPECT_EQ(Tag(b, 38), "data");
    EXPECT_EQ(U32(b, 42), n);
}

void ExpectFact(const std::vector<uint8_t>& b, uint32_t n, uint32_t samples) {
    const size_t at = 46 + n + (n & 1);
    EXPECT_EQ(Tag(b, at), "fact");
    EXPECT_EQ(U32(b, at + 4), 4u);
    EXPECT_EQ(U32(b, at + 8), samples);
}

} // namespace

TEST(WavSink, ARecordingOfNBytesIs58PlusNBytes) {
    TempDir dir;
    Recorder r;
    const std::string file = dir / "take.wav";
    r.Arm(file);
    EXPECT_EQ(fs::file_size(file), 46u); // created with its header when the chain opened
    r.dev.Start();
    r.dev.Play(10);
    r.StopRecording();
    const auto b = ReadAll(file);
    const uint32_t n = 10 * 882;
    ASSERT_EQ(b.size(), 58u + n);
    ExpectProgramHeader(b, n);
    ExpectFact(b, n, n / 2);
    for (uint32_t i = 0; i < n / 2; ++i)
        ASSERT_EQ(int16_t(b[46 + 2 * i] | b[47 + 2 * i] << 8), int16_t(i + 1)) << i;
    EXPECT_EQ(r.sink.Wave().FileName(), "");
    EXPECT_EQ(r.readyCalls, 10);
}

TEST(WavSink, StopRightAfterArmingLeavesAnEmptyValidFile) {
    TempDir dir;
    Recorder r;
    const std::string file = dir / "empty.wav";
    r.Arm(file);
    r.StopRecording();
    const auto b = ReadAll(file);
    ASSERT_EQ(b.size(), 58u);
    ExpectProgramHeader(b, 0);
    ExpectFact(b, 0, 0);
}

TEST(WavSink, ClosingTheChainWithoutSamplesWritesTwoSilentSamples) {
    TempDir dir;
    Recorder r;
    const std::string file = dir / "closed.wav";
    r.Arm(file);
    r.dev.Close();
    const auto b = ReadAll(file);
    ASSERT_EQ(b.size(), 62u);
    ExpectProgramHeader(b, 4);
    EXPECT_EQ(U32(b, 46), 0u);
    ExpectFact(b, 4, 2);
    EXPECT_FALSE(r.sink.FileOpened());
}

TEST(WavSink, AnOddByteCountGetsAPadByte) {
    TempDir dir;
    TMMWave w;
    const auto f = PcmWaveFormat(8, 1, 8000);
    const std::string file = dir / "odd.wav";
    w.CreateWaveFile(file, &f);
    const uint8_t s[3] = {1, 2, 3};
    EXPECT_EQ(w.WriteData(s, 3), 3);
    w.CloseWaveFile();
    const auto b = ReadAll(file);
    ASSERT_EQ(b.size(), 46u + 3 + 1 + 12);
    EXPECT_EQ(U32(b, 42), 3u);
    EXPECT_EQ(b[49], 0);
    EXPECT_EQ(Tag(b, 50), "fact");
    EXPECT_EQ(U32(b, 58), 3u);
    EXPECT_EQ(U32(b, 4), uint32_t(b.size() - 8));
}

TEST(WavSink, AnExistingWaveIsAcceptedAtNamingAndReplacedWhenTheChainOpens) {
    TempDir dir;
    const std::string file = dir / "again.wav";
    {
        Recorder r;
        r.Arm(file);
        r.dev.Start();
        r.dev.Play(10);
        r.StopRecording();
    }
    Recorder r;
    r.dev.Close();
    r.sink.Wave().SetFileName(file);
    EXPECT_EQ(r.sink.Wave().DataSize(), 4410);
    EXPECT_EQ(fs::file_size(file), 58u + 8820);
    r.dev.Open();
    EXPECT_EQ(fs::file_size(file), 46u);
    r.StopRecording();
    EXPECT_EQ(fs::file_size(file), 58u);
}

TEST(WavSink, ANonWaveFileIsRefusedAtNamingAndLeftAlone) {
    TempDir dir;
    Recorder r;
    const std::string keep = dir / "first.wav";
    r.sink.Wave().SetFileName(keep);
    const std::string text = dir / "notes.wav";
    WriteAll(text, {'h', 'e', 'l', 'l', 'o'});
    try {
        r.Arm(text);
        ADD_FAILURE() << "accepted a text file";
    } catch (const EMMWaveError& e) {
        EXPECT_STREQ(e.what(), "Invalid wave file...");
    }
    EXPECT_EQ(r.sink.Wave().FileName(), ExpandFileName(keep));
    EXPECT_EQ(ReadAll(text), (std::vector<uint8_t>{'h', 'e', 'l', 'l', 'o'}));
    // A RIFF file of another form type, and a WAVE without "fmt ", are refused too.
    WriteAll(text, {'R', 'I', 'F', 'F', 4, 0, 0, 0, 'A', 'V', 'I', ' '});
    EXPECT_THROW(r.sink.Wave().SetFileName(text), EMMWaveError);
    WriteAll(text,
             {'R', 'I', 'F', 'F', 12, 0, 0, 0, 'W', 'A', 'V', 'E', 'd', 'a', 't', 'a', 0, 0, 0, 0});
    EXPECT_THROW(r.sink.Wave().SetFileName(text), EMMWaveError);
}

TEST(WavSink, MessagesOfTheWaveObject) {
    TempDir dir;
    TMMWave w;
    auto expectMessage = [](auto&& action, const char* text) {
        try {
            action();
            ADD_FAILURE() << "no error, expected " << text;
        } catch (const EMMWaveError& e) {
            EXPECT_STREQ(e.what(), text);
        }
    };
    expectMessage([&] { w.SetFileName(dir / "missing.wav"); }, "Error reading wave file");
    const auto f = PcmWaveFormat(16, 1, 44100);
    // The message names the file and the system's reason.
    expectMessage([&] { w.CreateWaveFile(dir / "no/such/dir/x.wav", &f); },
                  ("Unable to create wave file: " + (dir / "no/such/dir/x.wav") +
                   " (No such file or directory)").c_str());
    expectMessage([&] { w.CreateWaveFile(dir.path.string() + "/", &f); },
                  ("Unable to create wave file: " + ExpandFileName(dir.path.string() + "/") +
                   " (Is a directory)").c_str());
    expectMessage([&] { w.ReopenWaveFile(); }, "Unable to open wave file");
    w.CreateWaveFile(dir / "open.wav", &f);
    expectMessage([&] { w.SetIOBufferSize(1 << 30); }, "Unable to setup file IO buffer");
    expectMessage([&] { w.SetPosition(5); }, "Error seeking file position");
    w.SetIOBufferSize(100);
    EXPECT_EQ(w.IOBufferSize(), 8192);
    w.SetMemoryImage({1, 2, 3});
    expectMessage([&] { w.WriteData(reinterpret_cast<const uint8_t*>("ab"), 2); },
                  "Can't write to MemoryWave");
    expectMessage([&] { w.CreateWaveFile(dir / "m.wav", &f); }, "Can't write to MemoryWave");
    expectMessage([&] { w.SetFileName(dir / "m.wav"); }, "Can't write to MemoryWave");
    w.FreeMemoryImage();
    EXPECT_EQ(w.WriteData(reinterpret_cast<const uint8_t*>("ab"), 2), 2);
    EXPECT_EQ(w.WriteData(reinterpret_cast<const uint8_t*>("ab"), 0), -1);
}

TEST(WavSink, AFailedCreationLeavesNoFileAndTheNameForTheNextTry) {
    TempDir dir;
    Recorder r;
    const std::string file = dir / "locked/take.wav";
    r.dev.Close();
    r.sink.Wave().SetFileName(file); // the folder does not exist yet
    EXPECT_THROW(r.dev.Open(), EMMWaveError);
    EXPECT_FALSE(r.sink.FileOpened());
    EXPECT_FALSE(fs::exists(file));
    EXPECT_EQ(r.sink.Wave().FileName(), ExpandFileName(file));
}

TEST(WavSink, DisabledOrEmptyBuffersWriteNothingButTheFileExists) {
    TempDir dir;
    Recorder r;
    const std::string file = dir / "quiet.wav";
    r.dev.Close();
    r.sink.Wave().SetFileName(file);
    r.dev.Open(); // sink still disabled
    EXPECT_EQ(fs::file_size(file), 46u);
    r.dev.Start();
    r.dev.Play(3);
    r.sink.SetEnabled(true);
    r.head.OnBufferLoad = [](TObject*, PWaveHdr, bool& more) { more = true; }; // 0 bytes
    r.dev.Play(3);
    EXPECT_EQ(r.readyCalls, 6);
    EXPECT_EQ(r.sink.Wave().DataSize(), 0);
    r.StopRecording();
    EXPECT_EQ(fs::file_size(file), 58u);
}

TEST(WavSink, LowDiskSpaceFinalisesAValidFileAndPlaybackGoesOn) {
    TempDir dir;
    Recorder r;
    uint64_t freeBytes = 10'000'000;
    r.sink.FreeSpace = [&](const std::string&, uint64_t& f) {
        f = freeBytes;
        return true;
    };
    const std::string file = dir / "full.wav";
    r.Arm(file);
    r.dev.Start();
    r.dev.Play(3);
    freeBytes = 32768 + 882 + 10240 - 1; // one byte short of what the next write needs
    r.dev.Play(5);
    EXPECT_FALSE(r.sink.FileOpened());
    EXPECT_EQ(r.readyCalls, 8);
    const uint32_t n = 3 * 882;
    auto b = ReadAll(file);
    ASSERT_EQ(b.size(), 58u + n);
    ExpectProgramHeader(b, n);
    ExpectFact(b, n, n / 2);
    r.StopRecording();
    EXPECT_EQ(ReadAll(file), b);
    // A failing query counts as no space.
    Recorder q;
    q.sink.FreeSpace = [](const std::string&, uint64_t&) { return false; };
    q.Arm(dir / "noquery.wav");
    q.dev.Start();
    q.dev.Play(1);
    EXPECT_FALSE(q.sink.FileOpened());
    EXPECT_EQ(fs::file_size(dir / "noquery.wav"), 62u); // the two silent samples of Closed()
}

TEST(WavSink, AWriteFailureFinalisesWhatReachedTheDisk) {
    TempDir dir;
    Recorder r;
    const std::string file = dir / "enospc.wav";
    r.sink.Wave().WriteLimitForTesting = 46 + 20001; // the disk fills mid-buffer
    r.Arm(file);
    r.dev.Start();
    r.dev.Play(60);
    EXPECT_FALSE(r.sink.FileOpened());
    r.StopRecording();
    const auto b = ReadAll(file);
    const uint32_t n = 20000; // whole samples only
    ASSERT_EQ(b.size(), 46u + n);
    ExpectProgramHeader(b, n, false); // no room was left for "fact"
    for (uint32_t i = 0; i < n / 2; ++i)
        ASSERT_EQ(int16_t(b[46 + 2 * i] | b[47 + 2 * i] << 8), int16_t(i + 1)) << i;
    auto info = ReadWaveLayout(file);
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->TotalSamples, int32_t(n / 2));
}

TEST(WaveLayout, ReadsOwnFilesAndRepairsFactAndUnfinishedSizes) {
    TempDir dir;
    const std::string file = dir / "own.wav";
    {
        TMMWave w;
        const auto f = PcmWaveFormat(16, 2, 22050);
        w.CreateWaveFile(file, &f);
        std::vector<uint8_t> s(400, 7);
        w.WriteData(s.data(), 400);
        w.CloseWaveFile();
        EXPECT_EQ(w.DataSize(), 100);
        EXPECT_EQ(w.FileSize(), 58u + 400);
    }
    auto info = ReadWaveLayout(file);
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->Format.nChannels, 2);
    EXPECT_EQ(info->Format.nSamplesPerSec, 22050u);
    EXPECT_EQ(info->Format.nAvgBytesPerSec, 88200u);
    EXPECT_EQ(info->DataOffset, 46);
    EXPECT_EQ(info->TotalSamples, 100);

    auto b = ReadAll(file);
    b[46 + 400 + 8] = 99; // a wrong "fact" value is replaced by the data's length
    WriteAll(file, b);
    EXPECT_EQ(ReadWaveLayout(file)->TotalSamples, 100);

    // An unfinished file (sizes still 0): the data runs to the end of the file.
    b.resize(46 + 400);
    for (int i : {4, 5, 6, 7, 42, 43, 44, 45})
        b[size_t(i)] = 0;
    WriteAll(file, b);
    info = ReadWaveLayout(file);
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->TotalSamples, 100);

    // A "fmt " too short to describe a format is no format.
    WriteAll(file, {'R', 'I', 'F', 'F', 22, 0, 0, 0, 'W', 'A',  'V',  'E', 'f', 'm', 't',
                    ' ', 10,  0,   0,   0,  1, 0, 1, 0,   0x44, 0xAC, 0,   0,   0,   0});
    EXPECT_EQ(ReadWaveLayout(file), nullptr);
}

TEST(WaveLayout, AnyBytesAreReadSafely) {
    TempDir dir;
    const std::string file = dir / "fuzz.wav";
    std::mt19937 gen(1234);
    int accepted = 0;
    for (int round = 0; round < 3000; ++round) {
        std::vector<uint8_t> b(12 + gen() % 120);
        for (auto& x : b)
            x = uint8_t(gen());
        std::memcpy(b.data(), "RIFF", 4);
        std::memcpy(b.data() + 8, "WAVE", 4);
        // Plant plausible chunk ids with random sizes.
        const char* ids[] = {"fmt ", "data", "fact", "LIST", "DISP"};
        for (size_t at = 12; at + 8 <= b.size(); at += 8 + gen() % 24)
            std::memcpy(b.data() + at, ids[gen() % 5], 4);
        // A fresh file each round: rewriting one file in place makes some file systems
        // flush on every close.
        fs::remove(file);
        WriteAll(file, b);
        auto info = ReadWaveLayout(file);
        if (!info) continue;
        ++accepted;
        ASSERT_GE(info->DataBytes, 0);
        ASSERT_LE(int64_t(info->DataOffset) + info->DataBytes, int64_t(b.size()));
        ASSERT_EQ(info->Format.cbSize, info->Format.Extra.size());
    }
    EXPECT_GT(accepted, 10); // the planted chunks make some files acceptable
}

TEST(WavSink, NamingAnEightBitWaveGivesTheSinkItsFormatAndSilence) {
    TempDir dir;
    const std::string file = dir / "eight.wav";
    {
        TMMWave w;
        const auto f = PcmWaveFormat(8, 1, 11025);
        w.CreateWaveFile(file, &f);
        w.CloseWaveFile();
    }
    TMMWaveFile sink;
    sink.Wave().SetFileMustExist(false);
    int changes = 0, changed = 0;
    sink.OnChange = [&](TObject*) { ++changes; };
    sink.OnChanged = [&](TObject*) { ++changed; };
    EXPECT_EQ(sink.SilenceValue(), 128);
    sink.Wave().SetFileName(file);
    ASSERT_NE(sink.GetWaveFormat(), nullptr);
    EXPECT_EQ(sink.GetWaveFormat()->wBitsPerSample, 8);
    EXPECT_EQ(sink.SilenceValue(), 128);
    const auto f16 = PcmWaveFormat(16, 1, 44100);
    sink.SetWaveFormat(&f16);
    EXPECT_EQ(sink.SilenceValue(), 0);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(changed, 1);
}
