#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

#include "settings/Settings.h"

using namespace zelvox;
namespace fs = std::filesystem;

namespace {

class SettingsFile : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/zelvox-settings-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        Dir = tmpl;
        Path = Dir + "/ZLVX3.INI";
    }
    void TearDown() override {
        ::chmod(Dir.c_str(), 0700);
        fs::remove_all(Dir);
    }
    void Put(const std::string& bytes) {
        std::ofstream(Path, std::ios::binary) << bytes;
    }
    std::string Get() {
        std::ifstream in(Path, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    std::string Dir, Path;
};

} // namespace

TEST(ProfileInteger, DecimalHexAndRejects) {
    int32_t v = 0;
    EXPECT_TRUE(ParseProfileInteger("0x50", v));
    EXPECT_EQ(v, 80);
    EXPECT_TRUE(ParseProfileInteger("0XfF", v));
    EXPECT_EQ(v, 255);
    EXPECT_TRUE(ParseProfileInteger("0xFFFFFFFF", v)); // a 32-bit pattern
    EXPECT_EQ(v, -1);
    EXPECT_TRUE(ParseProfileInteger("-2147483648", v));
    EXPECT_EQ(v, INT32_MIN);
    EXPECT_TRUE(ParseProfileInteger("+17", v));
    EXPECT_EQ(v, 17);
    for (const char* bad : {"", "abc", "0x", "0x1FFFFFFFF", "2147483648", "99999999999999999999",
                            "12abc", "1 2", "-", "0xg1", "1.5"})
        EXPECT_FALSE(ParseProfileInteger(bad, v)) << bad;
    // "0x" alone is not hex; "0" followed by nothing more is decimal zero
    EXPECT_TRUE(ParseProfileInteger("0", v));
    EXPECT_EQ(v, 0);
}

TEST_F(SettingsFile, ReadsBuffersByTheFileRules) {
    TSettingsFile f(Path);
    EXPECT_EQ(f.ReadInteger("Audio", "Buffers", 40), 40); // no file
    Put("[Audio]\nBuffers=0x50\n");
    EXPECT_EQ(f.ReadInteger("Audio", "Buffers", 40), 80);
    Put("[Audio]\r\nBuffers = 500 \r\n");
    EXPECT_EQ(f.ReadInteger("Audio", "Buffers", 40), 500);
    Put("[Audio]\nBuffers=abc\n");
    EXPECT_EQ(f.ReadInteger("Audio", "Buffers", 40), 40);
    Put("[audio]\nBUFFERS=12\n[MIDI]\nBuffers=99\n"); // names ignore case; sections apart
    EXPECT_EQ(f.ReadInteger("Audio", "Buffers", 40), 12);
    EXPECT_EQ(f.ReadInteger("MIDI", "Buffers", 0), 99);
    EXPECT_EQ(f.ReadInteger("MIDI", "CHANNEL", 3), 3);
    Put("[Audio]\nBuffers=99999999999999\n");
    EXPECT_EQ(f.ReadInteger("Audio", "Buffers", 40), 40);
    Put("[MIDI]\nENABLED=1\nX=0\nY=\"7\"\n");
    EXPECT_TRUE(f.ReadBool("MIDI", "ENABLED", false));
    EXPECT_FALSE(f.ReadBool("MIDI", "X", true));
    EXPECT_TRUE(f.ReadBool("MIDI", "missing", true));
    EXPECT_EQ(f.ReadInteger("MIDI", "Y", 0), 7); // quotes around a value are not part of it
}

TEST_F(SettingsFile, GarbageAndBinaryFilesGiveDefaults) {
    TSettingsFile f(Path);
    std::string binary;
    for (int i = 0; i < 4096; ++i) binary.push_back(static_cast<char>((i * 7919) & 0xFF));
    Put(binary);
    EXPECT_EQ(f.ReadInteger("Audio", "Buffers", 40), 40);
    Put(std::string("[Audio]\0\nBuffers=\0x12\n", 22));
    EXPECT_EQ(f.ReadInteger("Audio", "Buffers", 40), 40);
    Put("[Audio\nBuffers=7\n=8\n[]\n");
    EXPECT_EQ(f.ReadInteger("Audio", "Buffers", 40), 40); // no complete section header
    Put(std::string(1 << 20, 'x') + "\n[Audio]\nBuffers=9\n");
    EXPECT_EQ(f.ReadInteger("Audio", "Buffers", 40), 9);
    // A directory where the file should be
    fs::remove(Path);
    fs::create_directory(Path);
    EXPECT_EQ(f.ReadInteger("Audio", "Buffers", 40), 40);
    EXPECT_THROW(f.WriteInteger("Audio", "Buffers", 3), ESettingsError);
}

TEST_F(SettingsFile, WritingAKeyKeepsEveryOtherLine) {
    TSettingsFile f(Path);
    f.WriteInteger("Audio", "Buffers", 40); // creates the file
    EXPECT_EQ(Get(), "[Audio]\nBuffers=40\n");
    Put("; my notes\n[MIDI]\n0=5\nENABLED=1\n\n[Audio]\nBuffers=10\nAPI=jack\n\n[Other]\nk=v\n");
    f.WriteInteger("Audio", "Buffers", 80);
    f.WriteBool("MIDI", "ENABLED", false);
    f.WriteInteger("MIDI", "CHANNEL", 3);
    f.WriteString("New", "a", "b");
    EXPECT_EQ(Get(), "; my notes\n[MIDI]\n0=5\nENABLED=0\nCHANNEL=3\n\n[Audio]\nBuffers=80\n"
                     "API=jack\n\n[Other]\nk=v\n\n[New]\na=b\n");
    EXPECT_EQ(f.ReadInteger("Audio", "Buffers", 40), 80);
    EXPECT_EQ(f.ReadString("Audio", "API", ""), "jack");
    // CR LF files stay CR LF; a value cannot smuggle a line in
    Put("[Audio]\r\nBuffers=1\r\n");
    f.WriteString("Audio", "Device", "x\ny=1");
    EXPECT_EQ(Get(), "[Audio]\r\nBuffers=1\r\nDevice=x y=1\r\n");
}

// A session manager's client: writes stay in memory, the file changes only at Commit, and a
// file that could not be read is never replaced.
TEST_F(SettingsFile, HeldSettingsReachTheFileOnlyAtCommit) {
    Put("[Sequencer]\nSwing=25\n");
    TSettingsFile f(Path);
    f.Hold();
    int writes = 0;
    f.OnHeldWrite = [&] { ++writes; };
    f.WriteInteger("Sequencer", "Swing", 35);
    f.WriteBool("MIDI", "ENABLED", true);
    EXPECT_EQ(writes, 2);
    EXPECT_TRUE(f.Changed());
    EXPECT_EQ(f.ReadInteger("Sequencer", "Swing", 0), 35);
    EXPECT_EQ(Get(), "[Sequencer]\nSwing=25\n");
    f.Commit();
    EXPECT_FALSE(f.Changed());
    EXPECT_EQ(Get(), "[Sequencer]\nSwing=35\n\n[MIDI]\nENABLED=1\n");
    f.WriteInteger("Sequencer", "Swing", 35); // the same text again
    EXPECT_FALSE(f.Changed());

    fs::remove(Path);
    fs::create_directory(Path); // there, but not a file to read
    TSettingsFile unreadable(Path);
    unreadable.Hold();
    unreadable.WriteInteger("Sequencer", "Swing", 10);
    EXPECT_THROW(unreadable.Commit(), ESettingsError);
    EXPECT_TRUE(fs::is_directory(Path));
}

TEST_F(SettingsFile, FailedWriteReportsTheFileName) {
    std::ofstream(Dir + "/plain") << "not a folder";
    TSettingsFile f(Dir + "/plain/ZLVX3.INI");
    try {
        f.WriteBool("MIDI", "ENABLED", true);
        FAIL() << "no error";
    } catch (const ESettingsError& e) {
        EXPECT_EQ(std::string(e.what()), "Unable to write to " + Dir + "/plain/ZLVX3.INI");
    }
}

TEST_F(SettingsFile, FailedWriteKeepsTheOldFile) {
    if (::geteuid() == 0) GTEST_SKIP() << "root writes into read-only folders";
    TSettingsFile f(Path);
    Put("[Audio]\nBuffers=33\n");
    ::chmod(Dir.c_str(), 0500);
    try {
        f.WriteInteger("Audio", "Buffers", 44);
        FAIL() << "no error";
    } catch (const ESettingsError& e) {
        EXPECT_EQ(std::string(e.what()), "Unable to write to " + Path);
    }
    ::chmod(Dir.c_str(), 0700);
    EXPECT_EQ(Get(), "[Audio]\nBuffers=33\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(Dir), fs::directory_iterator()), 1);
}

TEST_F(SettingsFile, LivesInTheUserConfigurationFolder) {
    const char* old = std::getenv("XDG_CONFIG_HOME");
    std::string saved = old ? old : "";
    ::setenv("XDG_CONFIG_HOME", Dir.c_str(), 1);
    TSettingsFile f;
    EXPECT_EQ(f.FileName(), Dir + "/zelvox/ZLVX3.INI");
    f.WriteInteger("Audio", "Buffers", 12); // creates the folder
    EXPECT_TRUE(fs::is_regular_file(Dir + "/zelvox/ZLVX3.INI"));
    ::setenv("XDG_CONFIG_HOME", "relative/not/allowed", 1);
    const char* home = std::getenv("HOME");
    EXPECT_EQ(TSettingsFile().FileName(),
              std::string(home ? home : ".") + "/.config/zelvox/ZLVX3.INI");
    if (old) ::setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
    else ::unsetenv("XDG_CONFIG_HOME");
}
