// zelvox-render: renders a pattern file (or the start-up patterns) to a WAV file without a
// window or a sound device, running exactly the code the desktop program runs; with --play
// it plays them through the sound device in real time instead.

#include <charconv>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <unistd.h>

#include "audio/Settings.h"
#include "program/PlaySong.h"
#include "program/RenderSong.h"

namespace {

constexpr const char* kUsage =
    "usage: zelvox-render [FILE.zvx] [--arranger] [--buffers N] -o OUT.wav\n"
    "       zelvox-render --play [FILE.zvx] [--arranger] [--buffers N] [--start-delay MS]\n"
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
    "                        (with --play: no limit)\n"
    "  --play                play through the sound device in real time instead of writing\n"
    "                        a file, with the desktop program's chain and output device and\n"
    "                        the sound output chosen in its settings file (ZLVX3.INI,\n"
    "                        section [Audio], keys API and Device); stops after N buffers,\n"
    "                        at the song's end, or on Ctrl-C. Prints the number of\n"
    "                        underruns when the device ran dry\n"
    "  --start-delay MS      with --play: open the device MS milliseconds before starting,\n"
    "                        so that a recorder can connect to it first; default 0\n"
    "  -h, --help            show this text\n"
    "\n"
    "Exit status 0 on success, 1 when rendering or playing failed (e.g. \"No wave audio\n"
    "playing device found\"), 2 for bad options. On failure no output file is left behind.\n";

struct Options {
    std::string File, Out;
    bool Arranger = false;
    bool Play = false;
    int64_t Buffers = -1; // -1: not given (1000 for a render, no limit for --play)
    int32_t StartDelayMs = 0;
};

volatile std::sig_atomic_t Interrupted = 0;
void OnInterrupt(int) { Interrupted = 1; }

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
        } else if (a == "--play") {
            o.Play = true;
        } else if (value("--start-delay", v)) {
            if (!error.empty()) return 2;
            int32_t ms = 0;
            const auto r = std::from_chars(v.data(), v.data() + v.size(), ms);
            if (r.ec != std::errc() || r.ptr != v.data() + v.size() || ms < 0 || ms > 600'000) {
                error = "--start-delay wants milliseconds from 0 to 600000, not '" + v + "'";
                return 2;
            }
            o.StartDelayMs = ms;
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
    if (o.Play && !o.Out.empty()) {
        error = "--play writes no file: leave out -o (see --help)";
        return 2;
    }
    if (!o.Play && o.StartDelayMs != 0) {
        error = "--start-delay goes with --play (see --help)";
        return 2;
    }
    if (!o.Play && o.Out.empty()) {
        error = "no output file: give -o OUT.wav (see --help)";
        return 2;
    }
    return 0;
}

// --play: the program plays FILE (or its start-up patterns) through the sound device.
int Play(const Options& o) {
    std::signal(SIGINT, OnInterrupt);
    std::signal(SIGTERM, OnInterrupt);
    try {
        zelvox::TSettingsFile settings;
        zelvox::HeadlessPlayer player(settings);
        if (!o.File.empty()) {
            try {
                player.Load(o.File);
            } catch (const std::exception& e) {
                return Fail(1, o.File + ": " + e.what());
            }
        }
        if (::isatty(STDERR_FILENO) == 1)
            std::fprintf(stderr, "playing through %s; Ctrl-C stops\n", player.Backend().c_str());
        const zelvox::HeadlessPlayResult r =
            player.Play(o.Arranger, o.Buffers < 0 ? 0 : o.Buffers, o.StartDelayMs,
                        [] { return Interrupted != 0; });
        if (r.Underruns > 0)
            std::fprintf(stderr, "zelvox-render: %llu underruns (the device ran out of sound)\n",
                         static_cast<unsigned long long>(r.Underruns));
        if (!r.Ok) {
            // The device's messages span lines ("WaveOutOpen:\n\r..."); keep it to one.
            std::string what = r.Error;
            for (char& c : what)
                if (c == '\n' || c == '\r') c = ' ';
            std::string one;
            for (char c : what)
                if (!(c == ' ' && !one.empty() && one.back() == ' ')) one += c;
            return Fail(1, one);
        }
    } catch (const std::exception& e) {
        return Fail(1, e.what());
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
    if (o.Play) return Play(o);
    if (o.Buffers < 0) o.Buffers = 1000;

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
