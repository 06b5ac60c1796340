// Where zelvox-render's output goes when the name is not a plain file: a character device,
// a named pipe, "-" (standard output), a link. Devices and pipes are written to and stay what
// they are; a stream carries the same bytes a file gets; a link stays a link. A loop longer
// than a WAV file holds is refused before it starts.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include "files/MMWave.h"
#include "files/PatternFileFormat.h"
#include "support/RendererProgram.h"
#include "support/TempFiles.h"

using namespace zelvox;
using namespace zelvox::test;
namespace fs = std::filesystem;

namespace {

// Runs a shell command line (bounded by the caller's `timeout`s); its exit status.
int Shell(const std::string& cmd) {
    const int raw = std::system(cmd.c_str());
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

std::string Renderer() {
    return "timeout -k 5 60 " + Quote(RendererPath());
}

bool IsCharDevice(const fs::path& p) {
    struct stat st;
    return ::lstat(p.c_str(), &st) == 0 && S_ISCHR(st.st_mode);
}

std::string ReadText(const fs::path& p) {
    std::ifstream f(p);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

} // namespace

TEST(OutputTargets, DevicesPipesAndStandardOutputAreWrittenNeverReplaced) {
    if (::geteuid() != 0) GTEST_SKIP() << "making a device node needs root";
    TempDir dir;
    const fs::path null = dir / "null", fifo = dir / "fifo", file = dir / "file.wav";
    ASSERT_EQ(::mknod(null.c_str(), S_IFCHR | 0666, makedev(1, 3)), 0);
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0666), 0);
    const std::string loop = " --pattern 2 --seconds 1 ";
    ASSERT_EQ(Shell(Renderer() + loop + "-o " + Quote(file)), 0);
    const auto expected = ReadAll(file);
    ASSERT_EQ(expected.size(), 46u + 88200u + 12u);

    // The null device: written to, still the device, and nothing else appears beside it.
    EXPECT_EQ(Shell(Renderer() + loop + "-o " + Quote(null)), 0);
    EXPECT_TRUE(IsCharDevice(null));
    // A pipe with a reader: the reader gets the file's bytes (the length is known, so the
    // header has the exact sizes), and the pipe stays a pipe.
    EXPECT_EQ(Shell("timeout -k 5 60 cat " + Quote(fifo) + " > " + Quote(dir / "read.wav") + " & " +
                    Renderer() + loop + "-o " + Quote(fifo) + "; wait"),
              0);
    EXPECT_EQ(ReadAll(dir / "read.wav"), expected);
    EXPECT_TRUE(fs::is_fifo(fs::symlink_status(fifo)));
    // Standard output, as another tool reads it; and byte for byte the file.
    EXPECT_EQ(Shell(Renderer() + loop + "-o - > " + Quote(dir / "stdout.wav")), 0);
    EXPECT_EQ(ReadAll(dir / "stdout.wav"), expected);
    if (Shell("command -v sox >/dev/null") == 0) {
        EXPECT_EQ(Shell(Renderer() + loop + "-o - | timeout -k 5 60 sox -t wav - -n stat 2> " +
                        Quote(dir / "sox.txt")),
                  0);
        EXPECT_NE(ReadText(dir / "sox.txt").find("Samples read:             44100"),
                  std::string::npos)
            << ReadText(dir / "sox.txt");
    }
    // A song's length is not known in advance: the largest sizes, and the samples to the end.
    EXPECT_EQ(Shell(Renderer() + " --arranger --seconds 1 -o - > " + Quote(dir / "song.wav")), 0);
    const auto song = ReadAll(dir / "song.wav");
    ASSERT_GE(song.size(), 46u);
    EXPECT_EQ(U32(song, 4), 0xFFFFFFFFu);
    EXPECT_EQ(U32(song, 42), 0xFFFFFFFFu);

    // Stems: one of them a device, the others files in the folder.
    const fs::path stems = dir / "stems";
    fs::create_directory(stems);
    ASSERT_EQ(::mknod((stems / "echo.wav").c_str(), S_IFCHR | 0666, makedev(1, 3)), 0);
    EXPECT_EQ(Shell(Renderer() + loop + "--stems " + Quote(stems)), 0);
    EXPECT_TRUE(IsCharDevice(stems / "echo.wav"));
    EXPECT_EQ(fs::file_size(stems / "bass.wav"), expected.size());
    size_t entries = 0;
    for (const auto& e : fs::directory_iterator(stems)) (void)e, ++entries;
    EXPECT_EQ(entries, 4u) << "no part file left behind";

    // A pattern file saved onto a device: written, the device stays.
    WriteFileReplacing(null.string(), std::vector<uint8_t>(100, 1));
    EXPECT_TRUE(IsCharDevice(null));
}

TEST(OutputTargets, ALinkStaysALinkAndTheFileItNamesIsReplaced) {
    TempDir dir;
    fs::create_directory(dir / "real");
    const fs::path real = dir.path / "real" / "take.wav", linked = dir / "take.wav";
    { std::ofstream(real) << "older"; }
    fs::create_symlink(real, linked);
    ASSERT_EQ(Shell(Renderer() + " --seconds 1 -o " + Quote(linked)), 0);
    EXPECT_TRUE(fs::is_symlink(linked));
    EXPECT_EQ(fs::file_size(real), 46u + 88200u + 12u);
    // The same for a pattern file.
    const fs::path zvxReal = dir.path / "real" / "song.zvx", zvxLink = dir / "song.zvx";
    { std::ofstream(zvxReal) << "older"; }
    fs::create_symlink(zvxReal, zvxLink);
    WriteFileReplacing(zvxLink.string(), std::vector<uint8_t>(100, 1));
    EXPECT_TRUE(fs::is_symlink(zvxLink));
    EXPECT_EQ(fs::file_size(zvxReal), 100u);
    // A link to nothing, or to a folder, is refused: no file appears where the user did not
    // look, and nothing else is touched.
    fs::create_symlink(dir.path / "real" / "gone.wav", dir / "dangling.wav");
    fs::create_directory_symlink(dir / "real", dir / "folder.wav");
    EXPECT_EQ(Shell(Renderer() + " --seconds 1 -o " + Quote(dir / "dangling.wav") + " 2>/dev/null"), 1);
    EXPECT_EQ(Shell(Renderer() + " --seconds 1 -o " + Quote(dir / "folder.wav") + " 2>/dev/null"), 1);
    EXPECT_FALSE(fs::exists(dir.path / "real" / "gone.wav"));
    size_t entries = 0;
    for (const auto& e : fs::directory_iterator(dir.path / "real")) (void)e, ++entries;
    EXPECT_EQ(entries, 2u);
}

TEST(OutputTargets, ALoopLongerThanAWavFileHoldsIsRefusedBeforeItStarts) {
    TempDir dir;
    const fs::path out = dir / "long.wav", err = dir / "err.txt";
    // 2,434,785 buffers of 882 bytes are one more than 2 GiB less the header's margin takes.
    for (const char* length : {"--seconds 10000000", "--buffers 2434785"}) {
        EXPECT_EQ(Shell(Renderer() + " " + std::string(length) + " -o " + Quote(out) + " 2> " + Quote(err)), 2);
        const std::string said = ReadText(err);
        EXPECT_NE(said.find("6 hours 45 minutes"), std::string::npos) << said;
        EXPECT_NE(said.find("--seconds 24347"), std::string::npos) << said;
        EXPECT_FALSE(fs::exists(out));
    }
    // A song may end sooner: it is not refused for the length it may not reach.
    EXPECT_EQ(Shell(Renderer() + " --arranger --seconds 10000000 -o " + Quote(out)), 0);
}

// The window never waits on a pipe: naming one reads nothing from it, recording onto one
// nobody reads fails at once, and with a reader the recording streams to it.
TEST(OutputTargets, TheWindowsRecordingOntoAPipeNeverWaits) {
    TempDir dir;
    const fs::path fifo = dir / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0666), 0);
    const auto format = PcmWaveFormat(16, 1, 44100);
    TMMWave wave;
    wave.SetFileMustExist(false);
    wave.SetFileName(fifo.string()); // would wait for a writer if it read the pipe
    try {
        wave.CreateWaveFile(fifo.string(), &format);
        ADD_FAILURE() << "a pipe nobody reads was opened";
    } catch (const EMMWaveError& e) {
        EXPECT_NE(std::string(e.what()).find("nothing reads from the pipe"), std::string::npos)
            << e.what();
    }
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    wave.CreateWaveFile(fifo.string(), &format);
    const uint8_t samples[4] = {1, 0, 2, 0};
    EXPECT_EQ(wave.WriteData(samples, 4), 4);
    wave.CloseWaveFile();
    std::vector<uint8_t> got(100);
    const ssize_t n = ::read(reader, got.data(), got.size());
    ::close(reader);
    ASSERT_EQ(n, 46 + 4);
    EXPECT_EQ(U32(got, 4), 0xFFFFFFFFu); // the length was not known
    EXPECT_EQ(got[46], 1);
    EXPECT_TRUE(fs::is_fifo(fs::symlink_status(fifo)));
}
