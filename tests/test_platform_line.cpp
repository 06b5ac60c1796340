// The splash window's platform line, built from what uname and os-release say.
#include <gtest/gtest.h>

#include <sys/utsname.h>

#include "ui/PlatformLine.h"

using namespace zelvox;

TEST(PlatformLine, NamesKernelMachineAndDistribution) {
    const std::string debian = "NAME=\"Debian GNU/Linux\"\nPRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\nID=debian\n";
    EXPECT_EQ(PlatformLine("Linux", "x86_64", debian), "For Linux x86_64, Debian GNU/Linux 12 (bookworm)");
    // Unquoted, single-quoted and escaped values; the last assignment wins; control
    // characters never reach the window.
    EXPECT_EQ(OsReleasePrettyName("PRETTY_NAME=Arch\r\n"), "Arch");
    EXPECT_EQ(OsReleasePrettyName("PRETTY_NAME='Fedora Linux 40'"), "Fedora Linux 40");
    EXPECT_EQ(OsReleasePrettyName("PRETTY_NAME=\"Say \\\"hi\\\"\"\nPRETTY_NAME=\"Void\x1b[2J\""), "Void[2J");
    EXPECT_EQ(OsReleasePrettyName("NAME=x\n#PRETTY_NAME=\"y\"\n"), "");
    // Without os-release or uname, what is known; never the empty string.
    EXPECT_EQ(PlatformLine("Linux", "aarch64", ""), "For Linux aarch64");
    EXPECT_EQ(PlatformLine("", "", ""), "For Linux");
    // A long name is cut short, on a character boundary.
    const std::string line = PlatformLine("Linux", "x86_64", "PRETTY_NAME=\"" + std::string(60, 'A') + "\"");
    EXPECT_EQ(line, "For Linux x86_64, " + std::string(kMaxPrettyName - 3, 'A') + "...");
    const std::string utf8 = OsReleasePrettyName("PRETTY_NAME=\"" + std::string(36, 'a') + "\xc3\xa9\xc3\xa9\xc3\xa9\"");
    EXPECT_EQ(PlatformLine("", "", "PRETTY_NAME=\"" + utf8 + "\""), "For " + std::string(36, 'a') + "...");
}

TEST(PlatformLine, ThisMachineIsNamedAsUnameNamesIt) {
    utsname u{};
    ASSERT_EQ(::uname(&u), 0);
    const std::string line = PlatformLine();
    EXPECT_EQ(line.rfind("For " + std::string(u.sysname) + " " + u.machine, 0), 0u) << line;
    EXPECT_EQ(line.find("Win"), std::string::npos) << line;
}
