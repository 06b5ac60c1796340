#pragma once
// Where a named output goes. A regular file (or a name not taken yet) is written under a
// hidden name beside it and renamed over it when complete, so a failure never leaves half a
// file and an older file survives it. A link is not replaced: the file it names is. A
// character device (/dev/null) or a named pipe is written to directly, in order, as a
// stream, and never replaced; "-" is the program's standard output, where a caller allows it.
// Anything else (a folder, a block device, a socket, a link to nothing) is refused, so no
// output ever lands in a place the user did not name.

#include <string>

namespace zelvox {

struct OutputTarget {
    enum class Kind { File, Stream, Stdout };
    Kind What = Kind::File;
    // File: the file to replace (a link's file, resolved), or the new file's name.
    // Stream: the device or pipe. Stdout: "-".
    std::string Path;
    bool IsStream() const { return What != Kind::File; }
};

// False, with `why` ("is a folder", ...), for a name that cannot take output.
bool ResolveOutputTarget(const std::string& name, bool dashIsStdout, OutputTarget& out,
                         std::string& why);

// Opens a Stream or Stdout target for writing; returns the descriptor (close-on-exec, blocking
// writes) or -1 with `err` set. A pipe that nothing reads yet: with `waitForReader` the open
// waits for a reader, as a shell's redirection does; without, it fails at once with ENXIO (a
// window must not hang).
int OpenOutputStream(const OutputTarget& target, bool waitForReader, int& err);

// The reason for a failed stream open, in words: ENXIO on a pipe is "nothing reads from the pipe".
std::string StreamOpenError(int err);

} // namespace zelvox
