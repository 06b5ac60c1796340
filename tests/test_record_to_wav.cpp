#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <unistd.h>

#include "audio/MMReverb.h"
#include "audio/MMWaveFile.h"
#include "audio/OfflineOut.h"
#include "program/RecordToWav.h"
#include "support/TempFiles.h"

using namespace zelvox;
using namespace zelvox::test;
namespace fs = std::filesystem;

namespace {

// The program's chain: MMWaveout1 -> MMReverb1 -> MMWaveOut2 -> MMWaveFile1.
struct Program {
    TMMDSPInterface MMWaveout1;
    TMMReverb MMReverb1;
    TMMOfflineOut MMWaveOut2;
    TMMWaveFile MMWaveFile1;
    WavRecorder Recorder{MMWaveOut2, MMWaveFile1};
    Program() {
        MMReverb1.SetInput(&MMWaveout1);
        MMReverb1.SetOutput(&MMWaveOut2);
        MMWaveOut2.SetOutput(&MMWaveFile1);
        MMWaveFile1.SetEnabled(false);
        MMWaveFile1.Wave().SetFileMustExist(false);
        const auto f = PcmWaveFormat(16, 1, 44100);
        MMWaveout1.SetWaveFormat(&f);
        MMWaveout1.OnBufferLoad = [](TObject*, PWaveHdr h, bool& more) {
            auto* s = reinterpret_cast<int16_t*>(h->lpData);
            for (uint32_t i = 0; i < h->dwBufferLength / 2; ++i)
                s[i] = 100;
            h->dwBytesRecorded = h->dwBufferLength;
            more = true;
        };
    }
    void Play(int buffers) {
        MMWaveOut2.Start();
        for (int i = 0; i < buffers; ++i)
            MMWaveOut2.Pull();
    }
    void StopButton() {
        MMWaveOut2.Stop();
        Recorder.EndRecording();
    }
};

} // namespace

TEST(RecordToWav, ArmRecordStopGivesTheFileOfWhatWasPlayed) {
    TempDir dir;
    Program p;
    p.Recorder.Arm(dir / "take.wav");
    EXPECT_TRUE(p.MMWaveOut2.IsDeviceOpen());
    EXPECT_FALSE(p.MMWaveOut2.Playing());
    EXPECT_TRUE(p.MMWaveFile1.Enabled());
    p.Play(100); // one second
    p.StopButton();
    EXPECT_EQ(fs::file_size(dir / "take.wav"), 58u + 100 * 882);
    EXPECT_FALSE(p.MMWaveFile1.Enabled());
    EXPECT_EQ(p.MMWaveFile1.Wave().FileName(), "");
    // The next start plays without writing.
    p.Play(10);
    p.StopButton();
    EXPECT_EQ(fs::file_size(dir / "take.wav"), 58u + 100 * 882);
}

TEST(RecordToWav, StopRightAfterArmingAndReArmingWhileRecording) {
    TempDir dir;
    Program p;
    p.Recorder.Arm(dir / "empty.wav");
    p.StopButton();
    EXPECT_EQ(fs::file_size(dir / "empty.wav"), 58u);

    p.Recorder.Arm(dir / "first.wav");
    p.Play(5);
    p.Recorder.Arm(dir / "second.wav"); // closing the device finalises the first file
    EXPECT_EQ(fs::file_size(dir / "first.wav"), 58u + 5 * 882);
    p.Play(3);
    p.StopButton();
    EXPECT_EQ(fs::file_size(dir / "second.wav"), 58u + 3 * 882);
}

TEST(RecordToWav, FailuresLeaveTheDeviceClosed) {
    TempDir dir;
    Program p;
    { std::ofstream(dir / "text.wav") << "not a wave"; }
    EXPECT_THROW(p.Recorder.Arm(dir / "text.wav"), EMMWaveError);
    EXPECT_FALSE(p.MMWaveOut2.IsDeviceOpen());
    EXPECT_FALSE(p.MMWaveFile1.Enabled());

    const std::string nowhere = dir / "missing-folder/take.wav";
    p.Recorder.CloseDevice();
    p.Recorder.NameFile(nowhere);
    try {
        p.Recorder.OpenDevice();
        ADD_FAILURE();
    } catch (const EMMWaveError& e) {
        // What the user reads: the program's message, the file and why.
        EXPECT_EQ(std::string(e.what()),
                  "Unable to create wave file: " + nowhere + " (No such file or directory)");
    }
    EXPECT_FALSE(p.MMWaveOut2.IsDeviceOpen());
    EXPECT_FALSE(p.MMReverb1.IsOpened());
    // The name stays; once the folder exists the next open creates the file.
    fs::create_directories(dir / "missing-folder");
    p.Recorder.OpenDevice();
    EXPECT_TRUE(fs::exists(nowhere));
}
