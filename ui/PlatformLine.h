#pragma once
// The splash window's platform line: the system the program runs on, as the kernel and the
// distribution name it ("For Linux x86_64, Debian GNU/Linux 12 (bookworm)").

#include <string>

namespace zelvox {

// The PRETTY_NAME of an os-release file's text (quotes and escapes removed, control
// characters dropped); empty when the text has none.
std::string OsReleasePrettyName(const std::string& osReleaseText);

// "For <sysname> <machine>, <pretty name>"; the parts that are empty are left out, and the
// distribution's name is cut short with "..." past kMaxPrettyName characters.
std::string PlatformLine(const std::string& sysname, const std::string& machine,
                         const std::string& osReleaseText);
constexpr size_t kMaxPrettyName = 40;

// The line for this machine: uname, and /etc/os-release (or /usr/lib/os-release).
std::string PlatformLine();

} // namespace zelvox
