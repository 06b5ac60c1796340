#include "files/OutputTarget.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace zelvox {

namespace fs = std::filesystem;

bool ResolveOutputTarget(const std::string& name, bool dashIsStdout, OutputTarget& out,
                         std::string& why) {
    out = OutputTarget{};
    if (dashIsStdout && name == "-") {
        out.What = OutputTarget::Kind::Stdout;
        out.Path = name;
        return true;
    }
    out.Path = name;
    struct stat st;
    if (::lstat(name.c_str(), &st) != 0) {
        if (errno == ENOENT) return true; // a new file
        why = std::strerror(errno);
        return false;
    }
    if (S_ISLNK(st.st_mode)) {
        std::error_code ec;
        const fs::path real = fs::canonical(fs::path(name), ec);
        if (ec || ::stat(real.c_str(), &st) != 0) {
            // A link to nothing: following it would make a file where the user did not look.
            std::error_code rec;
            const fs::path to = fs::read_symlink(fs::path(name), rec);
            why = "is a link to " + (rec ? std::string("a missing file") : to.string()) +
                  ", which does not exist";
            return false;
        }
        out.Path = real.string();
    }
    if (S_ISREG(st.st_mode)) return true;
    if (S_ISDIR(st.st_mode)) {
        why = "is a folder";
        return false;
    }
    if (S_ISCHR(st.st_mode) || S_ISFIFO(st.st_mode)) {
        out.What = OutputTarget::Kind::Stream;
        return true;
    }
    why = S_ISBLK(st.st_mode) ? "is a block device (a disk): not written to"
                              : "is not a file, a device or a pipe";
    return false;
}

int OpenOutputStream(const OutputTarget& target, bool waitForReader, int& err) {
    err = 0;
    int fd = -1;
    if (target.What == OutputTarget::Kind::Stdout) {
        fd = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0);
    } else {
        // No O_CREAT: should the node have gone meanwhile, nothing is made in its place.
        const int flags = O_WRONLY | O_CLOEXEC | O_NOCTTY | (waitForReader ? 0 : O_NONBLOCK);
        do {
            fd = ::open(target.Path.c_str(), flags);
        } while (fd < 0 && errno == EINTR);
        if (fd >= 0 && !waitForReader) {
            // Non-blocking only to open: the writes wait for the reader as usual.
            const int fl = ::fcntl(fd, F_GETFL);
            if (fl < 0 || ::fcntl(fd, F_SETFL, fl & ~O_NONBLOCK) != 0) {
                err = errno;
                ::close(fd);
                return -1;
            }
        }
    }
    if (fd < 0) err = errno;
    return fd;
}

std::string StreamOpenError(int err) {
    if (err == ENXIO) return "nothing reads from the pipe";
    return std::strerror(err);
}

} // namespace zelvox
