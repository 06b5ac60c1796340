// File writing when the system says no: a full disk during recording, a failed rename while
// a pattern file is saved, a settings file whose folder cannot be written. In every case the
// user's data stays whole (the WAV file valid up to what was written, the old pattern file and
// the old settings file as they were) and the failure is reported.
//
// Where this process may mount file systems (root with the right to mount), the failures are
// real ones: a small tmpfs that fills up, a file that is a mount point (rename over it fails),
// a read-only mount. Elsewhere those cases are skipped and the same failures are injected: a
// file size limit (RLIMIT_FSIZE, which works for every user), the pattern writer's rename
// seam, and a folder path that runs through a regular file.

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>

#include "ui/AudioSetup.h"
#include "files/MMWave.h"
#include "audio/MMWaveFile.h"
#include "settings/Settings.h"
#include "devices/backends/ScriptedDevice.h"
#include "files/PatternFileFormat.h"
#include "fuzz/FuzzWaveLayout.h"
#include "support/TempFiles.h"

using namespace zelvox;
using namespace zelvox::test;
namespace fs = std::filesystem;

namespace {

size_t Entries(const fs::path& dir) {
    size_t n = 0;
    for (const auto& e : fs::directory_iterator(dir)) (void)e, ++n;
    return n;
}

// A tmpfs of its own, mounted at a fresh folder, when this process may mount.
class SmallFs {
public:
    explicit SmallFs(const std::string& options) {
        if (::mount("zelvox-test", Dir_.path.c_str(), "tmpfs", MS_NOSUID | MS_NODEV,
                    options.c_str()) == 0)
            Mounted_ = true;
        else
            Why_ = std::strerror(errno);
    }
    ~SmallFs() {
        if (Mounted_) ::umount2(Dir_.path.c_str(), MNT_DETACH);
    }
    bool Mounted() const { return Mounted_; }
    const std::string& Why() const { return Why_; }
    const fs::path& Path() const { return Dir_.path; }
    bool MakeReadOnly() {
        return ::mount(nullptr, Dir_.path.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0;
    }

private:
    TempDir Dir_;
    bool Mounted_ = false;
    std::string Why_;
};

// The program's recording set-up: chain head (writes 1, 2, 3, ... as samples), output
// device, WAV sink, armed and started as "Record to wav" and "Record" do.
struct Recording {
    TMMDSPInterface Head;
    fuzz::FuzzPlayer Device;
    TMMWaveFile Sink;
    WAVEFORMATEX Format = PcmWaveFormat(16, 1, 44100);
    int16_t Next = 1;
    int Played = 0;   // buffers that reached the end of the chain
    int Problems = 0; // OnWriteProblem calls

    explicit Recording(const fs::path& file) {
        Device.SetInput(&Head);
        Device.SetOutput(&Sink);
        Device.SetBufferSize(882);
        Head.SetWaveFormat(&Format);
        Sink.Wave().SetFileMustExist(false);
        Head.OnBufferLoad = [this](TObject*, PWaveHdr h, bool& more) {
            auto* s = reinterpret_cast<int16_t*>(h->lpData);
            for (uint32_t i = 0; i < h->dwBufferLength / 2; ++i) s[i] = Next++;
            h->dwBytesRecorded = h->dwBufferLength;
            more = true;
        };
        Sink.OnBufferReady = [this](TObject*, PWaveHdr) { ++Played; };
        Sink.OnWriteProblem = [this](TObject*) { ++Problems; };
        Sink.Wave().SetFileName(file.string());
        Device.Open();
        Sink.SetEnabled(true);
        Device.Start();
    }
    // Plays until the sink gives up (at most `limit` buffers); returns the buffers played.
    int PlayUntilTheSinkStops(int limit) {
        int n = 0;
        while (Sink.FileOpened() && n < limit) {
            Device.Play(1);
            ++n;
        }
        return n;
    }
    void Stop() {
        Device.Stop();
        Sink.SetEnabled(false);
        Sink.Wave().SetFileName("");
    }
};

// The file is the program's WAV file with n data bytes of the samples 1, 2, 3, ...; the
// "fact" chunk may be missing when the disk had no room left for it.
void ExpectValidRecording(const fs::path& file, uint32_t& n) {
    const auto b = ReadAll(file);
    ASSERT_GE(b.size(), 46u);
    EXPECT_EQ(Tag(b, 0), "RIFF");
    EXPECT_EQ(U32(b, 4), b.size() - 8) << "RIFF size";
    EXPECT_EQ(Tag(b, 8), "WAVE");
    EXPECT_EQ(Tag(b, 12), "fmt ");
    EXPECT_EQ(U32(b, 16), 18u);
    EXPECT_EQ(Tag(b, 38), "data");
    n = U32(b, 42);
    EXPECT_EQ(n % 2, 0u);
    const size_t end = 46 + size_t(n) + (n & 1);
    ASSERT_LE(end, b.size());
    if (b.size() > end) {
        ASSERT_EQ(b.size(), end + 12);
        EXPECT_EQ(Tag(b, end), "fact");
        EXPECT_EQ(U32(b, end + 8), n / 2);
    }
    for (uint32_t i = 0; i < n / 2; ++i)
        ASSERT_EQ(int16_t(b[46 + 2 * i] | b[47 + 2 * i] << 8), int16_t(i + 1)) << "sample " << i;
    auto info = ReadWaveLayout(file.string());
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->TotalSamples, int32_t(n / 2));
}

} // namespace

// ------------------------------------------------------------------ full disk while recording

TEST(FaultInjection, AFileSystemThatRunsLowEndsTheRecordingWithAValidFile) {
    SmallFs fs("size=256k");
    if (!fs.Mounted()) GTEST_SKIP() << "cannot mount a tmpfs here (" << fs.Why() << ")";
    const fs::path file = fs.Path() / "take.wav";
    Recording r(file); // the sink's own free-space query, on the real file system
    const int played = r.PlayUntilTheSinkStops(1000);
    EXPECT_LT(played, 1000) << "the recording never stopped";
    EXPECT_EQ(r.Sink.WriteProblem(), "Disk full");
    EXPECT_EQ(r.Problems, 1);
    r.Device.Play(5); // the music plays on
    EXPECT_EQ(r.Played, played + 5);
    r.Stop();
    uint32_t n = 0;
    ExpectValidRecording(file, n);
    EXPECT_GT(n, 100u * 882);
    EXPECT_EQ(n % 882, 0u); // the guard stops before a buffer, never inside one
}

TEST(FaultInjection, ARecordingThatReachesTheWavSizeLimitSaysSoAndKeepsAValidFile) {
    TempDir dir;
    const fs::path file = dir / "take.wav";
    Recording r(file);
    r.Sink.Wave().MaxDataBytes = 100 * 882 + 500; // a test's limit: 1 s and a bit
    const int played = r.PlayUntilTheSinkStops(1000);
    EXPECT_EQ(played, 101);
    EXPECT_EQ(r.Sink.WriteProblem(), "a WAV file holds at most 1 second of sound");
    EXPECT_EQ(r.Problems, 1);
    r.Stop();
    uint32_t n = 0;
    ExpectValidRecording(file, n);
    EXPECT_EQ(n, 100u * 882); // whole buffers up to the limit, finalised with its "fact"
    EXPECT_EQ(fs::file_size(file), 46u + n + 12u);
}

TEST(FaultInjection, AFileSystemThatRefusesTheBytesKeepsWhatReachedTheDisk) {
    SmallFs fs("size=128k");
    if (!fs.Mounted()) GTEST_SKIP() << "cannot mount a tmpfs here (" << fs.Why() << ")";
    const fs::path file = fs.Path() / "take.wav";
    Recording r(file);
    // A free-space figure that lies (a network share, another writer) lets the writes run
    // into the real end of the file system.
    r.Sink.FreeSpace = [](const std::string&, uint64_t& f) {
        f = uint64_t(1) << 40;
        return true;
    };
    const int played = r.PlayUntilTheSinkStops(1000);
    EXPECT_LT(played, 1000) << "the file system never filled";
    EXPECT_EQ(r.Sink.WriteProblem(), "Disk full");
    EXPECT_EQ(r.Problems, 1);
    r.Stop();
    uint32_t n = 0;
    ExpectValidRecording(file, n);
    EXPECT_GT(n, 64u * 1024);
    // A new recording starts without the old problem.
    std::error_code ec;
    fs::remove(file, ec);
    Recording again(fs.Path() / "again.wav");
    EXPECT_EQ(again.Sink.WriteProblem(), "");
    again.Device.Play(1);
    EXPECT_TRUE(again.Sink.FileOpened());
}

TEST(FaultInjection, AWriteTheSystemRefusesEndsTheRecordingWithAValidFile) {
    // Works for every user and every machine: a file size limit makes the kernel refuse the
    // write that would grow the file past it (EFBIG), as a full disk refuses it.
    TempDir dir;
    const fs::path file = dir.path / "take.wav";
    Recording r(file);
    struct rlimit saved;
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 100000;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const int played = r.PlayUntilTheSinkStops(1000);
    r.Device.Play(3);
    r.Stop();
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_LT(played, 1000);
    EXPECT_EQ(r.Sink.WriteProblem(), "I/O error " + std::to_string(EFBIG));
    EXPECT_EQ(r.Problems, 1);
    EXPECT_EQ(r.Played, played + 3);
    uint32_t n = 0;
    ExpectValidRecording(file, n);
    EXPECT_GT(n, 50000u);
    EXPECT_LE(fs::file_size(file), 100000u);
}

// ------------------------------------------------------------------ pattern file: failed rename

namespace {

std::vector<uint8_t> NewPatternBytes() {
    std::vector<uint8_t> b(kPatternFileSize);
    for (size_t i = 0; i < b.size(); ++i) b[i] = uint8_t(i * 13 + 1);
    return b;
}

int RenameBusy(const char*, const char*) {
    errno = EBUSY;
    return -1;
}

} // namespace

TEST(FaultInjection, AFailedRenameLeavesTheOldPatternFileAndNoLeftovers) {
    // The rename is the save's last step: the new file is already complete on disk beside the
    // old one. Injected here, so that it runs on every machine.
    TempDir dir;
    const fs::path file = dir.path / "song.zvx";
    const std::vector<uint8_t> old(kPatternFileSize, 0x5A);
    WriteAll(file, old);
    PatternFileRenameForTesting = RenameBusy;
    try {
        WriteFileReplacing(file.string(), NewPatternBytes());
        ADD_FAILURE() << "the failed rename was not reported";
    } catch (const EInOutError& e) {
        EXPECT_EQ(std::string(e.what()), "I/O error " + std::to_string(EBUSY) + ": " + file.string() +
                                             " (Device or resource busy)");
        EXPECT_EQ(e.ErrorCode, EBUSY);
    }
    PatternFileRenameForTesting = nullptr;
    EXPECT_EQ(ReadAll(file), old);
    EXPECT_EQ(Entries(dir.path), 1u) << "the new file was left behind";
    // Without the fault the same save goes through.
    WriteFileReplacing(file.string(), NewPatternBytes());
    EXPECT_EQ(ReadAll(file), NewPatternBytes());
}

TEST(FaultInjection, ARenameOverAMountPointFailsAndTheOldPatternFileStays) {
    // The real thing: the old file is a mount point (bound onto itself), and the kernel
    // refuses to rename anything over it (EBUSY), whoever asks.
    TempDir dir;
    const fs::path file = dir.path / "song.zvx";
    const std::vector<uint8_t> old(kPatternFileSize, 0x5A);
    WriteAll(file, old);
    if (::mount(file.c_str(), file.c_str(), nullptr, MS_BIND, nullptr) != 0)
        GTEST_SKIP() << "cannot bind-mount here (" << std::strerror(errno) << ")";
    bool reported = false;
    try {
        WriteFileReplacing(file.string(), NewPatternBytes());
    } catch (const EInOutError& e) {
        reported = true;
        EXPECT_EQ(std::string(e.what()), "I/O error " + std::to_string(EBUSY) + ": " + file.string() +
                                             " (Device or resource busy)");
    }
    const auto after = ReadAll(file);
    const size_t entries = Entries(dir.path);
    ::umount2(file.c_str(), MNT_DETACH);
    EXPECT_TRUE(reported);
    EXPECT_EQ(after, old);
    EXPECT_EQ(ReadAll(file), old);
    EXPECT_EQ(entries, 1u) << "the new file was left behind";
}

// ------------------------------------------------------------------ settings file: unwritable folder

namespace {

// The audio setup dialog on a scripted output device, with its settings file at `path`.
struct AudioSetupRig {
    ScriptedWaveOutSystem System;
    MainThreadQueue Queue;
    TMMDSPInterface Head;
    TMMWaveOut Out{&System, &Queue};
    WAVEFORMATEX Format = PcmWaveFormat(16, 1, 44100);
    TSettingsFile Settings;
    TAudioSetupForm Form{Out, Settings};
    int Hidden = 0;

    explicit AudioSetupRig(const std::string& path) : Settings(path) {
        Head.SetOutput(&Out);
        Head.SetWaveFormat(&Format);
        Head.OnBufferLoad = [](TObject*, PWaveHdr h, bool& more) {
            h->dwBytesRecorded = h->dwBufferLength;
            more = true;
        };
        Form.OnHide = [this] { ++Hidden; };
        Form.FormCreate();
    }
};

} // namespace

TEST(FaultInjection, SettingsUnderAPathThroughARegularFileAreReportedAndNothingIsLost) {
    // The settings folder's place is taken by a regular file: no folder can be made there,
    // for any user.
    TempDir dir;
    const fs::path blocker = dir.path / "zelvox";
    WriteAll(blocker, {'k', 'e', 'e', 'p'});
    const std::string path = (blocker / "ZLVX3.INI").string();
    AudioSetupRig rig(path);
    EXPECT_EQ(rig.Form.TrackBar1.Value(), 40); // nothing to read: the default
    rig.Form.TrackBar1.SetValue(80);
    try {
        rig.Form.Button1Click();
        ADD_FAILURE() << "the failed write was not reported";
    } catch (const ESettingsError& e) {
        EXPECT_EQ(std::string(e.what()), "Unable to write to " + path);
    }
    EXPECT_EQ(rig.Hidden, 0) << "the dialog closed as if the settings were stored";
    EXPECT_EQ(ReadAll(blocker), (std::vector<uint8_t>{'k', 'e', 'e', 'p'}));
    EXPECT_EQ(Entries(dir.path), 1u);
    EXPECT_EQ(rig.Out.NumBuffers(), 80); // the device took the new count all the same
}

TEST(FaultInjection, SettingsOnAReadOnlyFileSystemAreReportedAndTheOldFileStays) {
    SmallFs fs("size=64k");
    if (!fs.Mounted()) GTEST_SKIP() << "cannot mount a tmpfs here (" << fs.Why() << ")";
    const fs::path file = fs.Path() / "ZLVX3.INI";
    const std::string old = "[Audio]\nBuffers=60\n\n[MIDI]\nENABLED=1\nCHANNEL=3\n";
    {
        std::ofstream(file, std::ios::binary) << old;
    }
    ASSERT_TRUE(fs.MakeReadOnly()) << std::strerror(errno);
    AudioSetupRig rig(file.string());
    EXPECT_EQ(rig.Form.TrackBar1.Value(), 60);
    rig.Form.TrackBar1.SetValue(100);
    EXPECT_THROW(rig.Form.Button1Click(), ESettingsError);
    EXPECT_EQ(rig.Hidden, 0);
    const auto kept = ReadAll(file);
    EXPECT_EQ(std::string(kept.begin(), kept.end()), old);
    EXPECT_EQ(Entries(fs.Path()), 1u);
    // Every other writer of the file reports the same way.
    const TSettingsFile settings(file.string());
    EXPECT_THROW(settings.WriteBool("MIDI", "ENABLED", false), ESettingsError);
    EXPECT_TRUE(settings.ReadBool("MIDI", "ENABLED", false));
}
