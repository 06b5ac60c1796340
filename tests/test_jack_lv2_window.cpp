// The plugin's window in real hosts on the private JACK server: jalv.gtk3 and jalv.qt5 show
// it embedded, on a virtual X display of the test's own (Xvfb). The mouse and the keys come
// from xdotool, the screen is read with ImageMagick's import, the sound with jack_rec, and the
// plugin's state as the UI library receives it (its test log).
#include <gtest/gtest.h>

#include <jack/jack.h>

#include <array>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include "devices/AudioBackend.h"
#include "files/PatternFileFormat.h"
#include "sequencer/ControlTable.h"
#include "sequencer/PatternEdits.h"
#include "support/Lv2Host.h"
#include "support/RendererProgram.h"
#include "support/TempFiles.h"
#include "synth/PatternSynth.h"

using namespace zelvox;
using namespace zelvox::test;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

const std::string kUri = "https://zelvox.github.io/lv2/zelvox";
// The window's client area under its menu bar (app/MainWindow.h), and where the editor's
// first note slider and the bass strip's knobs sit in it (app/MainWindow.cpp).
constexpr int kClientHeight = 382;
constexpr int kSlider1X = 9 + 9, kSlider1Bottom = 61 + 38 + 115;

// A command's standard output; every command is bounded.
std::string Output(const std::string& cmd, int seconds = 30) {
    std::string out;
    FILE* p = ::popen(("timeout -k 5 " + std::to_string(seconds) + " " + cmd + " 2>/dev/null").c_str(), "r");
    if (!p) return out;
    char buf[4096];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
    ::pclose(p);
    return out;
}

// Which of the tools these tests drive are not installed.
std::string MissingTools(std::initializer_list<const char*> tools) {
    std::string missing;
    for (const char* t : tools)
        if (Output(std::string("sh -c 'command -v ") + t + "'").empty()) missing += std::string(" ") + t;
    return missing;
}

// Starts `cmd` (a shell command line, run with exec) as a process of its own.
pid_t Start(const std::string& cmd) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setpgid(0, 0);
        ::execl("/bin/sh", "sh", "-c", ("exec " + cmd).c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    return pid;
}

// Stops a process started above: SIGTERM, then SIGKILL after `grace`. Its exit status.
int Stop(pid_t pid, std::chrono::seconds grace = 15s) {
    int status = 0;
    if (::waitpid(pid, &status, WNOHANG) == pid) return status;
    ::kill(pid, SIGTERM);
    for (auto end = std::chrono::steady_clock::now() + grace; std::chrono::steady_clock::now() < end;) {
        if (::waitpid(pid, &status, WNOHANG) == pid) return status;
        std::this_thread::sleep_for(50ms);
    }
    ::kill(-pid, SIGKILL);
    ::waitpid(pid, &status, 0);
    return status;
}

// Stops the process when a test ends early.
struct StopAtEnd {
    pid_t Pid;
    ~StopAtEnd() {
        if (Pid > 0) Stop(Pid, 5s);
    }
};

bool Running(pid_t pid) {
    int status = 0;
    return ::waitpid(pid, &status, WNOHANG) == 0;
}

// A process's children (from every thread of it).
std::vector<pid_t> Children(pid_t pid) {
    std::vector<pid_t> kids;
    std::error_code ec;
    for (const auto& task : fs::directory_iterator("/proc/" + std::to_string(pid) + "/task", ec)) {
        std::ifstream f(task.path() / "children");
        for (pid_t k; f >> k;) kids.push_back(k);
    }
    return kids;
}

// A virtual X display of our own.
class VirtualDisplay {
public:
    VirtualDisplay() {
        int fds[2];
        if (::pipe(fds) != 0) return;
        Pid_ = ::fork();
        if (Pid_ == 0) {
            ::setpgid(0, 0);
            ::dup2(fds[1], 3);
            const int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, 1);
            ::dup2(null, 2);
            ::execlp("timeout", "timeout", "-k", "5", "600", "Xvfb", "-displayfd", "3", "-screen", "0",
                     "1024x768x24", "-nolisten", "tcp", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(fds[1]);
        pollfd p{fds[0], POLLIN, 0};
        for (char c; ::poll(&p, 1, 20000) > 0 && ::read(fds[0], &c, 1) == 1 && c != '\n';) Name_ += c;
        ::close(fds[0]);
        if (!Name_.empty()) Name_ = ":" + Name_;
    }
    ~VirtualDisplay() {
        if (Pid_ > 0) Stop(Pid_);
    }
    const std::string& Name() const { return Name_; }

private:
    pid_t Pid_ = -1;
    std::string Name_;
};

struct Rect {
    int X = 0, Y = 0, W = 0, H = 0;
};

// xdotool on the display.
std::string Xdo(const VirtualDisplay& x, const std::string& args) {
    return Output("env DISPLAY=" + x.Name() + " xdotool " + args);
}

// The window a process shows, and where it is on the screen.
bool WindowOf(const VirtualDisplay& x, pid_t pid, Rect& r) {
    std::istringstream ids(Xdo(x, "search --onlyvisible --pid " + std::to_string(pid)));
    std::string id;
    if (!(ids >> id)) return false;
    std::istringstream g(Xdo(x, "getwindowgeometry --shell " + id));
    for (std::string line; std::getline(g, line);) {
        const size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        const std::string key = line.substr(0, eq);
        const int v = std::atoi(line.c_str() + eq + 1);
        if (key == "X") r.X = v;
        if (key == "Y") r.Y = v;
        if (key == "WIDTH") r.W = v;
        if (key == "HEIGHT") r.H = v;
    }
    return r.W > 0 && r.H > 0;
}

// Where the window of a process that already showed it is now. Now and then the search finds
// no visible window of the process for seconds on end while the window is plainly there (its
// process alive, the clicks that follow landing on it): the last place found then stands, and
// only a process that has gone counts as no window.
bool ShownWindowOf(const VirtualDisplay& x, pid_t pid, Rect& r) {
    for (int i = 0; i < 20; ++i) {
        Rect now;
        if (WindowOf(x, pid, now)) {
            r = now;
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return r.W > 0 && ::kill(pid, 0) == 0;
}

// The host's window process (the host's only child) once it shows its window: its pid.
pid_t WaitForWindow(const VirtualDisplay& x, pid_t timeoutPid, pid_t other, Rect& r) {
    for (int i = 0; i < 600; ++i) {
        for (pid_t host : Children(timeoutPid))
            for (pid_t w : Children(host))
                if (w != other && WindowOf(x, w, r)) return w;
        std::this_thread::sleep_for(100ms);
    }
    return -1;
}

// Whether a part of the screen is the program's window and not a blank frame: hundreds of
// colours, and much of it the panels' grey.
::testing::AssertionResult LooksLikeTheWindow(const VirtualDisplay& x, const Rect& r, const fs::path& file) {
    const std::string geometry = std::to_string(r.W) + "x" + std::to_string(r.H) + "+" +
                                 std::to_string(r.X) + "+" + std::to_string(r.Y);
    Output("env DISPLAY=" + x.Name() + " import -window root -crop " + geometry + " -depth 8 ppm:" + Quote(file.string()));
    std::ifstream f(file, std::ios::binary);
    std::string magic;
    int w = 0, h = 0, max = 0;
    f >> magic >> w >> h >> max;
    f.get();
    if (magic != "P6" || w != r.W || h != r.H || max != 255)
        return ::testing::AssertionFailure() << "no screenshot of " << geometry;
    std::set<uint32_t> colours;
    size_t grey = 0;
    for (int i = 0; i < w * h; ++i) {
        std::array<unsigned char, 3> p{};
        f.read(reinterpret_cast<char*>(p.data()), 3);
        colours.insert(uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2]);
        grey += p[0] == 0x80 && p[1] == 0x80 && p[2] == 0x80;
    }
    if (!f || colours.size() < 100 || grey * 5 < size_t(w * h))
        return ::testing::AssertionFailure() << colours.size() << " colours, " << grey << " of "
                                             << w * h << " pixels the panels' grey";
    return ::testing::AssertionSuccess();
}

// The plugin's state as it last reached the window's side (empty if it sent none), from the
// UI library's test log (ZELVOX_UI_STATE_LOG: every state appended whole); `count`: how many
// times it came.
std::vector<uint8_t> LastStateSent(const fs::path& log, size_t* count = nullptr) {
    std::error_code ec;
    const std::vector<uint8_t> bytes = fs::exists(log, ec) ? ReadAll(log) : std::vector<uint8_t>{};
    const size_t n = bytes.size() / kPatternFileSize; // a state being written is not counted
    if (count) *count = n;
    if (n == 0) return {};
    const auto at = bytes.begin() + std::ptrdiff_t((n - 1) * kPatternFileSize);
    return {at, at + std::ptrdiff_t(kPatternFileSize)};
}

// A pattern file with the bass on every step (Cut-off halfway), saved as jalv's project.
void MakeProject(const fs::path& song, const fs::path& state) {
    PatternSynth s;
    for (int st = 1; st <= 16; ++st) {
        s.Store.Step(1, st).BassPlay = 1;
        s.Store.Step(1, st).NoisePlay = st % 2 == 0;
    }
    s.SetControl(ControlId::BassCutoff, 60);
    WriteFileReplacing(song.string(), s.SaveState());
    Lv2Host host(kUri);
    ASSERT_TRUE(host.Ok());
    host.SetPort("step_clock", 1.0f); // the synth's own clock: the renderer's
    host.SendPath(0, "https://zelvox.github.io/lv2/zelvox#patternFile", song.string());
    host.Run(1);
    host.Run(1);
    ASSERT_TRUE(host.SaveStateDir(state.string()));
}

// jalv (`program`) with its UI on the display; stdout and stderr into files in `dir`.
pid_t StartJalv(const std::string& program, const VirtualDisplay& x, const fs::path& dir,
                const std::string& args) {
    const std::string lv2Path = fs::path(Lv2BundleDir()).parent_path().string();
    return Start("env DISPLAY=" + x.Name() + " QT_QPA_PLATFORM=xcb XDG_CONFIG_HOME=" + Quote(dir.string()) +
                 " LIBC_FATAL_STDERR_=1 ZELVOX_UI_STATE_LOG=" + Quote((dir / "states.bin").string()) + " LV2_PATH=" + Quote(lv2Path) + " timeout -k 5 120 stdbuf -oL " + program + " " + args +
                 " <" + "/dev/null >" + Quote((dir / "out.txt").string()) + " 2>" + Quote((dir / "err.txt").string()));
}

std::string FileText(const fs::path& p) {
    std::ifstream f(p);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

// A host that died by a signal (other than the SIGTERM that ends it) or that reported a
// damaged heap fails the test, whatever else went well.
::testing::AssertionResult HostEndedCleanly(int status, const fs::path& dir) {
    const std::string said = FileText(dir / "err.txt") + FileText(dir / "out.txt");
    for (const char* heap : {"malloc(): ", "free(): ", "realloc(): ", "double free", "corrupted"})
        if (said.find(heap) != std::string::npos)
            return ::testing::AssertionFailure() << "the host reported a damaged heap:\n" << said;
    if (WIFSIGNALED(status) && WTERMSIG(status) != SIGTERM)
        return ::testing::AssertionFailure() << "the host died by signal " << WTERMSIG(status) << ":\n" << said;
    return ::testing::AssertionSuccess();
}

// The JACK transport stopped at frame 0, with no bar, beat or tempo to say (locate alone
// leaves whatever the last timebase master wrote).
void Rewind(jack_client_t* ctl) {
    jack_transport_stop(ctl);
    jack_position_t zero{};
    jack_transport_reposition(ctl, &zero);
}

// The centre of the bass strip's knob for `id`, on the screen.
std::pair<int, int> KnobCentre(const Rect& window, ControlId id) {
    int index = 0;
    for (const ControlRow& row : kControls) {
        if (row.Id == id) break;
        index += row.Panel == ControlPanel::Bass && row.Kind == ControlKind::Knob;
    }
    const int top = window.Y + window.H - kClientHeight;
    return {window.X + 4 + index * 44 + 22, top + 2 + 22};
}

// A build without the desktop window (ZELVOX_GUI off) has no window program in its bundle;
// a missing tool fails the test (scripts/install-deps.sh installs them all).
#define REQUIRE_WINDOW_AND_TOOLS(...)                                                              \
    do {                                                                                           \
        if (!fs::exists(fs::path(Lv2BundleDir()) / "zelvox-window"))                              \
            GTEST_SKIP() << "this build has no window program (built without the GUI)";            \
        const std::string missing = MissingTools({__VA_ARGS__});                                   \
        ASSERT_TRUE(missing.empty()) << "not installed:" << missing << " (scripts/install-deps.sh)"; \
    } while (0)

} // namespace

// jalv.gtk3 shows the program's window (not a blank frame); a wheel turn on Cut-off changes
// the sound from then on (before it, the sound is the renderer's, sample for sample); a note
// slider moved with the keys is in the plugin's state; the window's process killed, jalv plays
// on and the window comes back with the plugin's state, edits and all.
TEST(JackLv2Window, Gtk3HostShowsTheWindowAndItsEditsReachSoundAndState) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "jalv cannot load a plugin built with a sanitizer's runtime";
#endif
    ASSERT_TRUE(JackServerRunning()) << "run under scripts/with-jack.sh";
    REQUIRE_WINDOW_AND_TOOLS("Xvfb", "xdotool", "import", "jalv.gtk3", "jack_rec", "stdbuf");
    TempDir dir;
    MakeProject(dir.path / "song.zvx", dir.path / "state");
    const fs::path ref = dir.path / "ref.wav";
    ASSERT_EQ(std::system(("timeout -k 5 300 " + Quote(RendererPath()) + " " + Quote((dir.path / "song.zvx").string()) +
                           " --buffers 800 -o " + Quote(ref.string())).c_str()),
              0);
    const std::vector<int16_t> reference = WavSamples(ref);

    VirtualDisplay x;
    ASSERT_FALSE(x.Name().empty()) << "Xvfb did not start";
    jack_client_t* ctl = jack_client_open("zelvox-window-test-ctl", JackNoStartServer, nullptr);
    ASSERT_NE(ctl, nullptr);
    // A period the server loses (the machine, not the plugin) leaves a gap in the recording.
    static std::atomic<int> xruns{0};
    xruns = 0;
    jack_set_xrun_callback(ctl, [](void*) { ++xruns; return 0; }, nullptr);
    jack_activate(ctl);
    Rewind(ctl);

    const pid_t jalv = StartJalv("jalv.gtk3", x, dir.path, "-s -x -n zelvox-window-test -l " + Quote((dir.path / "state").string()));
    StopAtEnd stopJalv{jalv};
    Rect win;
    const pid_t window = WaitForWindow(x, jalv, -1, win);
    ASSERT_GT(window, 0) << "jalv.gtk3 shows no window:\n" << FileText(dir.path / "err.txt");
    for (int i = 0; i < 300 && LastStateSent(dir.path / "states.bin").empty(); ++i) std::this_thread::sleep_for(100ms);
    const std::vector<uint8_t> first = LastStateSent(dir.path / "states.bin");
    ASSERT_EQ(first.size(), kPatternFileSize) << "the plugin sent its window no state; jalv said:\n"
                                         << FileText(dir.path / "err.txt") << FileText(dir.path / "out.txt").substr(0, 3000);
    std::this_thread::sleep_for(1s); // the window shows it (and the host has laid out its own)
    ASSERT_TRUE(ShownWindowOf(x, window, win));
    EXPECT_TRUE(LooksLikeTheWindow(x, win, dir.path / "window.ppm"));

    // Recorded from the transport's start; three seconds in, Cut-off turned five notches up.
    const std::string rec = (dir.path / "rec.wav").string();
    std::thread recorder([&] {
        (void)std::system(("timeout -k 5 30 jack_rec -f " + Quote(rec) + " -d 7 -b 16 zelvox-window-test:out >" +
                           Quote((dir.path / "rec.txt").string()) + " 2>&1").c_str());
    });
    std::this_thread::sleep_for(500ms);
    jack_transport_start(ctl);
    std::this_thread::sleep_for(3s);
    ASSERT_TRUE(ShownWindowOf(x, window, win));
    const auto [kx, ky] = KnobCentre(win, ControlId::BassCutoff);
    const int lostBeforeTurn = xruns;
    Xdo(x, "mousemove " + std::to_string(kx) + " " + std::to_string(ky) + " click --repeat 5 4");
    recorder.join();

    const std::vector<int16_t> got = WavSamples(rec);
    const size_t r0 = LeadingSilence(got), e0 = LeadingSilence(reference);
    ASSERT_LT(r0, got.size()) << "the recording is silent";
    const size_t n = std::min(reference.size() - e0, got.size() - r0);
    ASSERT_GT(n, 5 * 44100u);
    const size_t firstDiff = FirstMismatch(got, r0, reference, e0, n);
    if (lostBeforeTurn == 0)
        EXPECT_GT(firstDiff, 44100u * 3 / 2) << "the sound changed before the turn";
    else if (firstDiff <= 44100u * 3 / 2)
        std::printf("jalv.gtk3: before the turn not judged, the server lost %d periods\n", lostBeforeTurn);
    EXPECT_LT(firstDiff, n) << "the turn did not change the sound";
    std::printf("jalv.gtk3: the recording is the render's for %.2f s, until the turn\n", double(firstDiff) / 44100);

    // Step 1's note: a click at the slider's foot (the lowest note), then Up twice.
    ASSERT_TRUE(ShownWindowOf(x, window, win)) << "window process " << (::kill(window, 0) == 0 ? "alive" : "gone")
                                          << "; jalv said:\n" << FileText(dir.path / "err.txt");
    const int top = win.Y + win.H - kClientHeight;
    Xdo(x, "mousemove " + std::to_string(win.X + kSlider1X) + " " + std::to_string(top + kSlider1Bottom) +
               " click 1 sleep 0.3 key Up Up");
    std::this_thread::sleep_for(1s);

    // The window killed while playing: jalv plays on, and a new window gets the state.
    size_t before = 0;
    (void)LastStateSent(dir.path / "states.bin", &before);
    ASSERT_EQ(::kill(window, SIGKILL), 0);
    const std::string tail = (dir.path / "tail.wav").string();
    ASSERT_EQ(std::system(("timeout -k 5 30 jack_rec -f " + Quote(tail) + " -d 2 -b 16 zelvox-window-test:out >" +
                           Quote((dir.path / "tail.txt").string()) + " 2>&1").c_str()),
              0) << "jack_rec said:\n" << FileText(dir.path / "tail.txt") << "jalv "
                 << (::kill(jalv, 0) == 0 ? "alive" : "gone") << "; it said:\n" << FileText(dir.path / "err.txt");
    const std::vector<int16_t> after = WavSamples(tail);
    EXPECT_GT(after.size(), 44100u);
    EXPECT_LT(LeadingSilence(after), after.size()) << "the sound stopped with the window";
    jack_transport_stop(ctl);
    Rect again;
    const pid_t second = WaitForWindow(x, jalv, window, again);
    ASSERT_GT(second, 0) << "the window did not come back";
    size_t count = 0;
    std::vector<uint8_t> state;
    for (int i = 0; i < 300 && count <= before; ++i) {
        std::this_thread::sleep_for(100ms);
        state = LastStateSent(dir.path / "states.bin", &count);
    }
    ASSERT_EQ(state.size(), kPatternFileSize) << "the new window got no state";
    PatternFileRecord r, r1;
    DecodePatternFile(state.data(), r);
    DecodePatternFile(first.data(), r1);
    EXPECT_EQ(StepNote(r.Store.Step(1, 1), kModeBass), 3) << "the note slider's keys";
    EXPECT_EQ(r.Store.Step(1, 16).BassCutoff, r1.Store.Step(1, 16).BassCutoff + 5) << "the wheel turn";
    std::this_thread::sleep_for(1s);
    EXPECT_TRUE(LooksLikeTheWindow(x, again, dir.path / "again.ppm"));
    EXPECT_TRUE(Running(jalv)) << "jalv ended:\n" << FileText(dir.path / "err.txt");
    jack_client_close(ctl);
    const int status = Stop(jalv);
    stopJalv.Pid = -1;
    EXPECT_TRUE(HostEndedCleanly(status, dir.path));
}

// jalv.qt5 (a Qt 5 host: the window's Qt 6 stays in its own process) shows the window and
// lives through ten seconds of knob turns and note keys in it.
TEST(JackLv2Window, Qt5HostShowsTheWindowAndLivesThroughEdits) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "jalv cannot load a plugin built with a sanitizer's runtime";
#endif
    ASSERT_TRUE(JackServerRunning()) << "run under scripts/with-jack.sh";
    REQUIRE_WINDOW_AND_TOOLS("Xvfb", "xdotool", "import", "jalv.qt5", "stdbuf");
    TempDir dir;
    VirtualDisplay x;
    ASSERT_FALSE(x.Name().empty()) << "Xvfb did not start";
    // jalv.qt5 1.6 reads no options: the plugin only, its UI always shown.
    const pid_t jalv = StartJalv("jalv.qt5", x, dir.path, kUri);
    StopAtEnd stopJalv{jalv};
    Rect win;
    const pid_t window = WaitForWindow(x, jalv, -1, win);
    ASSERT_GT(window, 0) << "jalv.qt5 shows no window:\n" << FileText(dir.path / "err.txt");
    std::this_thread::sleep_for(2s);
    ASSERT_TRUE(ShownWindowOf(x, window, win));
    EXPECT_TRUE(LooksLikeTheWindow(x, win, dir.path / "window.ppm"));

    const int top = win.Y + win.H - kClientHeight;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; std::chrono::steady_clock::now() - start < 10s; ++i) {
        const ControlId knobs[] = {ControlId::BassAttack, ControlId::BassDecay, ControlId::BassCutoff,
                                   ControlId::BassResonance, ControlId::BassEnvMod};
        const auto [kx, ky] = KnobCentre(win, knobs[i % 5]);
        Xdo(x, "mousemove " + std::to_string(kx) + " " + std::to_string(ky) + " click --repeat 3 " +
                   (i % 2 ? "4" : "5"));
        Xdo(x, "mousemove " + std::to_string(win.X + kSlider1X + 24 * (i % 16)) + " " +
                   std::to_string(top + kSlider1Bottom - 40) + " click 1 key Up Up Down");
        std::this_thread::sleep_for(200ms);
    }
    EXPECT_TRUE(Running(jalv)) << "jalv.qt5 ended:\n" << FileText(dir.path / "err.txt");
    std::this_thread::sleep_for(1s);
    EXPECT_TRUE(LooksLikeTheWindow(x, win, dir.path / "edited.ppm"));
    EXPECT_NE(ReadAll(dir.path / "window.ppm"), ReadAll(dir.path / "edited.ppm")) << "the edits did not show";
    const std::vector<pid_t> now = Children(Children(jalv).empty() ? -1 : Children(jalv).front());
    EXPECT_EQ(now, std::vector<pid_t>{window}) << "the window process did not live through the edits";
    const int status = Stop(jalv);
    stopJalv.Pid = -1;
    EXPECT_TRUE(HostEndedCleanly(status, dir.path));
}
