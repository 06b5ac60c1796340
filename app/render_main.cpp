// zelvox-render: renders a pattern file (or the start-up patterns) to a WAV file without a
// window or a sound device, running exactly the code the desktop program runs.

#include <charconv>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <unistd.h>

#include "files/RenderSong.h"

namespace {

constexpr const char* kUsage =
    "usage: zelvox-render [FILE.zvx] [--arranger] [--buffers N] -o OUT.wav\n"
    "\n"
    "Renders Zelvox's output to a WAV file (PCM, mono, 16 bits, 44100 Hz), faster than real\n"
    "time and without a sound device. The program starts with its start-up patterns; FILE,\n"
    "if given, is then loaded as File > Load pattern does.\n"
    "\n"
    "  -o, --output OUT.wav  the file to write (required); replaced only when complete\n"
    "  --arranger            play the song of the Arranger page (\"Play\") instead of\n"
    "                        looping pattern 1 on the Bass page (\"Loop\"); rendering stops\n"
    "                        after the buffer in which the song ends\n"
    "  --buffers N           render at most N buffers of 441 samples (10 ms); default 1000\n"
    "  -h, --help            show this text\n"
    "\n"
    "Exit status 0 on success, 1 when rendering failed, 2 for bad options. On failure no\n"
    "output file is left behind.\n";

struct Options {
    std::string File, Out;
    bool Arranger = false;
    int64_t Buffers = 1000;
};

int Fail(int code, const std::string& message) {
    std::fprintf(stderr, "zelvox-render: %s\n", message.c_str());
    return code;
}

// Returns 0 to go on, -1 after --help, or the exit code of a bad option.
int Parse(int argc, char** argv, Options& o, std::string& error) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&](const std::string& name, std::string& out) {
            const size_t eq = a.find('=');
            if (eq != std::string::npos && a.compare(0, eq, name) == 0) {
                out = a.substr(eq + 1);
                return true;
            }
            if (a != name) return false;
            if (i + 1 >= argc) {
                error = name + " needs a value";
                return true;
            }
            out = argv[++i];
            return true;
        };
        std::string v;
        if (a == "-h" || a == "--help") return -1;
        if (a == "--arranger") {
            o.Arranger = true;
        } else if (value("-o", v) || value("--output", v)) {
            if (!error.empty()) return 2;
            if (v.empty()) {
                error = "the output file name is empty";
                return 2;
            }
            o.Out = v;
        } else if (value("--buffers", v)) {
            if (!error.empty()) return 2;
            int64_t n = 0;
            const auto r = std::from_chars(v.data(), v.data() + v.size(), n);
            if (r.ec != std::errc() || r.ptr != v.data() + v.size() || n < 1 || n > 1'000'000'000) {
                error = "--buffers wants a whole number from 1 to 1000000000, not '" + v + "'";
                return 2;
            }
            o.Buffers = n;
        } else if (a.size() > 1 && a[0] == '-') {
            error = "unknown option '" + a + "' (see --help)";
            return 2;
        } else if (o.File.empty()) {
            o.File = a;
        } else {
            error = "more than one pattern file given ('" + o.File + "', '" + a + "')";
            return 2;
        }
    }
    if (o.Out.empty()) {
        error = "no output file: give -o OUT.wav (see --help)";
        return 2;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    // A file size limit makes writes fail with an error we report, instead of killing us
    // with a half-written file left behind.
    std::signal(SIGXFSZ, SIG_IGN);
    Options o;
    std::string error;
    const int parsed = Parse(argc, argv, o, error);
    if (parsed < 0) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (parsed > 0) return Fail(parsed, error);

    const bool terminal = ::isatty(STDERR_FILENO) == 1;
    bool progressShown = false;
    try {
        zelvox::HeadlessProgram program;
        if (!o.File.empty()) {
            try {
                program.Load(o.File);
            } catch (const std::exception& e) {
                return Fail(1, o.File + ": " + e.what());
            }
        }
        auto progress = [&](int64_t n) {
            if (terminal && (n % 500 == 0 || n == o.Buffers)) {
                progressShown = true;
                std::fprintf(stderr, "\rrendering: %lld of at most %lld buffers (%lld s)",
                             static_cast<long long>(n), static_cast<long long>(o.Buffers),
                             static_cast<long long>(n / 100));
            }
        };
        program.Render(o.Out, o.Arranger, o.Buffers, progress);
        if (progressShown) std::fputc('\n', stderr);
    } catch (const std::exception& e) {
        if (progressShown) std::fputc('\n', stderr);
        std::string what = e.what();
        // The WAV sink's own messages name no file; add it.
        if (what.find(o.Out) == std::string::npos) what = o.Out + ": " + what;
        return Fail(1, what);
    }
    return 0;
}
