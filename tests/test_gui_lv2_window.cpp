// The plugin's window end to end: the plugin in a lilv host, its UI library loaded as a host
// loads it (no suil, no toolkit), and the real window program in a process of its own on the
// offscreen platform. Edits in the window reach the plugin's state and its ports; a port the
// host moves moves the window's knob; a killed window leaves the host playing and comes back
// with the plugin's state.
//
// The window process here is this test program (PluginWindowProcess below) running the same
// window code as zelvox-window, so that it can turn a knob and press a key in it.

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QTimer>
#include <QWheelEvent>

#include <chrono>
#include <cmath>
#include <csignal>
#include <dlfcn.h>
#include <fstream>
#include <sstream>
#include <string>

#include <sys/wait.h>
#include <thread>

#include <lv2/ui/ui.h>

#include "app/PluginWindow.h"
#include "plugin/Ports.h"
#include "support/Lv2Host.h"
#include "support/TempFiles.h"

using namespace zelvox;
using namespace zelvox::test;
namespace fs = std::filesystem;

namespace {

const std::string kUri = "https://zelvox.github.io/lv2/zelvox";

void Report(const std::string& line) {
    if (const char* path = std::getenv("ZELVOX_TEST_WINDOW_REPORT")) {
        std::ofstream f(path, std::ios::app);
        f << line << "\n";
    }
}

uint32_t CutoffPort() {
    for (uint32_t i = 0; i < lv2::kControlPortCount; ++i)
        if (lv2::ControlPortInfo(i).Role == lv2::PortRole::Control &&
            lv2::ControlPortInfo(i).Id == ControlId::BassCutoff)
            return lv2::kFirstControlPort + i;
    return 0;
}

// The UI library as a host holds it: a descriptor, an instance, the writes it makes.
struct UiHost {
    void* Lib = nullptr;
    const LV2UI_Descriptor* D = nullptr;
    LV2UI_Handle H = nullptr;
    const LV2UI_Idle_Interface* Idle = nullptr;
    const LV2UI_Show_Interface* Show = nullptr;
    std::vector<std::pair<uint32_t, float>> PortWrites;
    std::vector<std::string> Events; // "write P", "touch P 1", "touch P 0", in their order
    LV2UI_Touch TouchFeature{this, Touch};
    std::vector<std::vector<uint8_t>> Atoms; // not yet given to the plugin
    LV2_URID EventTransfer = 0;

    static void Write(LV2UI_Controller c, uint32_t port, uint32_t size, uint32_t format, const void* buf) {
        auto* self = static_cast<UiHost*>(c);
        if (format == 0 && size == sizeof(float)) {
            float v;
            std::memcpy(&v, buf, sizeof v);
            self->PortWrites.emplace_back(port, v);
            self->Events.push_back("write " + std::to_string(port));
        } else if (format == self->EventTransfer) {
            const auto* b = static_cast<const uint8_t*>(buf);
            self->Atoms.emplace_back(b, b + size);
        }
    }
    static void Touch(LV2UI_Feature_Handle h, uint32_t port, bool grabbed) {
        static_cast<UiHost*>(h)->Events.push_back("touch " + std::to_string(port) + (grabbed ? " 1" : " 0"));
    }
    ~UiHost() {
        if (H) D->cleanup(H);
        if (Lib) dlclose(Lib);
    }
};

// One block of the host: the window's writes to the plugin, the plugin's notifications to
// the window, the UI library's idle.
void Block(Lv2Host& host, UiHost& ui) {
    for (const auto& [port, v] : ui.PortWrites) host.SetPortIndex(port, v);
    ui.PortWrites.clear();
    for (const auto& a : ui.Atoms) host.SendAtom(0, reinterpret_cast<const LV2_Atom*>(a.data()));
    ui.Atoms.clear();
    host.Run(512);
    ui.Idle->idle(ui.H);
}

std::vector<std::string> ReportLines(const fs::path& file) {
    std::ifstream f(file);
    std::vector<std::string> lines;
    for (std::string l; std::getline(f, l);) lines.push_back(l);
    return lines;
}

// Runs host blocks until `done` (at most 90 s: a window that never comes fails the test).
template <class F> bool Until(Lv2Host& host, UiHost& ui, F done) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(90);
    while (std::chrono::steady_clock::now() < end) {
        if (done()) return true;
        Block(host, ui);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return done();
}

int Count(const std::vector<std::string>& lines, const std::string& prefix) {
    return int(std::count_if(lines.begin(), lines.end(), [&](const std::string& l) { return l.rfind(prefix, 0) == 0; }));
}

// The UI library loaded and instantiated for `host` as a host does (no parent window: it is
// shown on its own), given the ports' values, and shown.
void OpenUi(Lv2Host& host, UiHost& ui) {
    ui.Lib = dlopen((Lv2BundleDir() + "/zelvox_ui.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(ui.Lib, nullptr) << dlerror();
    auto descriptor = reinterpret_cast<LV2UI_DescriptorFunction>(dlsym(ui.Lib, "lv2ui_descriptor"));
    ASSERT_NE(descriptor, nullptr);
    ui.D = descriptor(0);
    ui.EventTransfer = host.Map(LV2_ATOM__eventTransfer);
    UiHost* u = &ui;
    host.OnNotify = [u](const LV2_Atom* a) {
        if (u->H) u->D->port_event(u->H, lv2::kNotifyPort, lv2_atom_total_size(a), u->EventTransfer, a);
    };
    LV2_Feature map{LV2_URID__map, host.UridMap()};
    LV2_Feature touch{LV2_UI__touch, &ui.TouchFeature};
    const LV2_Feature* features[] = {&map, &touch, nullptr};
    LV2UI_Widget widget = nullptr;
    ui.H = ui.D->instantiate(ui.D, kUri.c_str(), Lv2BundleDir().c_str(), UiHost::Write, &ui, &widget, features);
    ASSERT_NE(ui.H, nullptr);
    ui.Idle = static_cast<const LV2UI_Idle_Interface*>(ui.D->extension_data(LV2_UI__idleInterface));
    ui.Show = static_cast<const LV2UI_Show_Interface*>(ui.D->extension_data(LV2_UI__showInterface));
    ASSERT_TRUE(ui.Idle && ui.Show);
    // The host gives the UI its ports' values, as hosts do when a UI opens.
    for (uint32_t p = lv2::kFirstControlPort; p < lv2::kFirstControlPort + lv2::kControlPortCount; ++p) {
        const float v = host.PortIndex(p);
        ui.D->port_event(ui.H, p, sizeof v, 0, &v);
    }
    ASSERT_EQ(ui.Show->show(ui.H), 0);
}

// The window process is this test program, run through a script that the UI library starts
// (`direct`: the script becomes it, so its parent is the host; else under a time limit).
void UseTestWindow(const TempDir& dir, bool direct = false) {
    const fs::path script = dir.path / "window.sh";
    char self[4096] = {};
    ASSERT_GT(::readlink("/proc/self/exe", self, sizeof self - 1), 0);
    {
        std::ofstream s(script);
        s << "#!/bin/sh\nZELVOX_TEST_WINDOW_ARGS=\"$*\" exec " << (direct ? "" : "timeout -k 5 120 ") << "'"
          << self << "' --gtest_filter=PluginWindowProcess.*\n";
    }
    fs::permissions(script, fs::perms::owner_all);
    ::setenv("ZELVOX_WINDOW_PROGRAM", script.c_str(), 1);
}

// The value a window's report gives after `prefix`, from its last such line.
std::string Reported(const fs::path& report, const std::string& prefix) {
    std::string v;
    for (const std::string& l : ReportLines(report))
        if (l.rfind(prefix, 0) == 0) v = l.substr(prefix.size());
    return v;
}

} // namespace

// Not a test of its own: the window process the UI library starts in the test below.
TEST(PluginWindowProcess, RunsWhenStartedByTheUiLibrary) {
    const char* args = std::getenv("ZELVOX_TEST_WINDOW_ARGS");
    if (!args) GTEST_SKIP() << "runs as the window process of PluginWindow tests";
    std::vector<std::string> words{"zelvox-window"};
    std::istringstream in(args);
    for (std::string w; in >> w;) words.push_back(w);
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    const int status = app::RunPluginWindow(int(words.size()), argv.data(), [](app::PluginWindow& w) {
        Report("pid " + std::to_string(::getpid()));
        // Whether the window shows a play, when that changes.
        auto* playing = new QTimer(&w);
        QObject::connect(playing, &QTimer::timeout, [&w, was = -1]() mutable {
            const int now = w.Form.Synth.Seq.Playing() ? 1 : 0;
            if (now != was) Report("playing " + std::to_string(now));
            was = now;
        });
        playing->start(10);
        ValueControl& cutoff = w.Form.MMWheel3;
        cutoff.OnChange = [&cutoff, change = cutoff.OnChange] {
            if (change) change();
            Report("cutoff " + std::to_string(cutoff.Value()));
        };
        w.OnSynced = [&w] {
            Report("synced cutoff=" + std::to_string(w.Form.MMWheel3.Value()));
            if (std::getenv("ZELVOX_TEST_WINDOW_CONTROLLERS")) {
                QAction* use = w.Main().FindAction("MIDI &controllers from the desktop program");
                if (!use) return Report("no controllers item");
                use->trigger();
                Report("controllers");
            }
            // The first window edits: a wheel turn on Cut-off, the Up key on step 1's note.
            const char* marker = std::getenv("ZELVOX_TEST_WINDOW_EDIT");
            if (!marker || fs::exists(marker)) return;
            std::ofstream(marker) << "edited\n";
            QWidget* knob = w.Main().ViewOf("MMWheel3");
            QWidget* slider = w.Main().ViewOf("MMSlider1");
            if (!knob || !slider) return Report("no views");
            const char* notches = std::getenv("ZELVOX_TEST_WINDOW_NOTCHES");
            QWheelEvent wheel(QPointF(20, 20), knob->mapToGlobal(QPointF(20, 20)), QPoint(),
                              QPoint(0, (notches ? std::atoi(notches) : 3) * 120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
            QApplication::sendEvent(knob, &wheel);
            QKeyEvent up(QEvent::KeyPress, Qt::Key_Up, Qt::NoModifier);
            QApplication::sendEvent(slider, &up);
            Report("edited cutoff=" + std::to_string(w.Form.MMWheel3.Value()));
        };
    });
    EXPECT_EQ(status, 0);
}

TEST(PluginWindow, EditsReachThePluginBothWaysAndAKilledWindowComesBack) {
    TempDir dir;
    const fs::path report = dir.path / "report.txt";
    UseTestWindow(dir);
    ::setenv("XDG_CONFIG_HOME", dir.path.c_str(), 1); // the controller table: all CC 0
    ::setenv("ZELVOX_TEST_WINDOW_REPORT", report.c_str(), 1);
    ::setenv("ZELVOX_TEST_WINDOW_EDIT", (dir.path / "edited").c_str(), 1);

    Lv2Host host(kUri);
    ASSERT_TRUE(host.Ok());
    UiHost ui;
    OpenUi(host, ui);
    const uint32_t cutoff = CutoffPort();

    // The window comes up with the plugin's state and turns Cut-off and step 1's note.
    const std::vector<uint8_t> before = host.StateBytes();
    ASSERT_TRUE(Until(host, ui, [&] { return Count(ReportLines(report), "edited") == 1; }))
        << "the window did not come up";
    const int32_t turned = std::stoi(Reported(report, "edited cutoff="));
    // A knob turned in the window is a port write (hosts record it) and in the plugin's state.
    ASSERT_TRUE(Until(host, ui, [&] { return host.PortIndex(cutoff) == float(turned); }));
    ASSERT_TRUE(Until(host, ui, [&] {
        PatternFileRecord r;
        const std::vector<uint8_t> now = host.StateBytes();
        DecodePatternFile(now.data(), r);
        PatternFileRecord b;
        DecodePatternFile(before.data(), b);
        return r.Store.Step(1, 16).BassCutoff == turned &&
               r.Store.Step(1, 1).BassFreq != b.Store.Step(1, 1).BassFreq;
    })) << "the window's edits are not in the plugin's state";
    // The wheel turn is one gesture for the host (Touch and Latch automation): touch on
    // before its first write, off once the knob rested.
    const std::string on = "touch " + std::to_string(cutoff) + " 1", off = "touch " + std::to_string(cutoff) + " 0";
    ASSERT_TRUE(Until(host, ui, [&] { return Count(ui.Events, off) == 1; })) << "the gesture did not end";
    std::vector<std::string> gesture;
    for (const std::string& e : ui.Events)
        if (e == on || e == off || e == "write " + std::to_string(cutoff)) gesture.push_back(e);
    ASSERT_GE(gesture.size(), 3u);
    EXPECT_EQ(gesture.front(), on);
    EXPECT_EQ(gesture.back(), off);
    EXPECT_EQ(Count(gesture, on), 1);

    // A port the host moves moves the window's knob.
    host.SetPortIndex(cutoff, 7.0f);
    const float seven = 7.0f;
    ui.D->port_event(ui.H, cutoff, sizeof seven, 0, &seven);
    ASSERT_TRUE(Until(host, ui, [&] { return Count(ReportLines(report), "cutoff 7") >= 1; }));

    // The window killed: the host plays on, and the window comes back with the state.
    host.SetPort("run", 1.0f);
    std::string pid;
    for (const std::string& l : ReportLines(report))
        if (l.rfind("pid ", 0) == 0) pid = l.substr(4);
    ASSERT_FALSE(pid.empty());
    ASSERT_EQ(::kill(std::stoi(pid), SIGKILL), 0);
    ASSERT_TRUE(Until(host, ui, [&] { return Count(ReportLines(report), "synced cutoff=7") == 1; }))
        << "the window did not come back with the plugin's state; it said:\n" << [&] {
               std::string all;
               for (const std::string& l : ReportLines(report)) all += l + "\n";
               return all;
           }();
    EXPECT_EQ(Count(ReportLines(report), "pid "), 2);
    bool sound = false;
    for (int i = 0; i < 200 && !sound; ++i) {
        Block(host, ui);
        for (uint32_t k = 0; k < 512; ++k) sound = sound || host.Out()[k] != 0.0f;
    }
    EXPECT_TRUE(sound) << "the plugin does not play on";
    EXPECT_TRUE(Until(host, ui, [&] { return Reported(report, "playing ") == "1"; })) << "no LEDs move";

    // MIDI turns Cut-off in the plugin (every controller slot is CC 0 here): the window's knob
    // follows. The play stopped, the window stops showing it.
    host.SendMidi(0, 0xB0, 0, 100);
    host.Run(64);
    PatternFileRecord midi;
    DecodePatternFile(host.StateBytes().data(), midi);
    ASSERT_NE(midi.Store.Step(1, 16).BassCutoff, 7);
    EXPECT_TRUE(Until(host, ui, [&] {
        return Count(ReportLines(report), "cutoff " + std::to_string(midi.Store.Step(1, 16).BassCutoff)) == 1;
    })) << "the window's knob did not follow MIDI";
    host.SetPort("run", 0.0f);
    EXPECT_TRUE(Until(host, ui, [&] { return Reported(report, "playing ") == "0"; })) << "the window plays on";

    // Closing the UI ends the window process.
    std::string second;
    for (const std::string& l : ReportLines(report))
        if (l.rfind("pid ", 0) == 0) second = l.substr(4);
    ui.D->cleanup(ui.H);
    ui.H = nullptr;
    bool gone = false;
    for (int i = 0; i < 500 && !gone; ++i) {
        gone = ::kill(std::stoi(second), 0) != 0;
        if (!gone) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_TRUE(gone) << "the window process outlived its UI";
}

// The plugin's controller table is its own: the desktop program's comes in only when the
// window's Setup menu asks for it, and then turns the knobs by it.
TEST(PluginWindow, TheDesktopProgramsControllersComeInFromTheSetupMenu) {
    TempDir dir;
    const fs::path report = dir.path / "report.txt";
    UseTestWindow(dir);
    fs::create_directories(dir.path / "zelvox");
    std::ofstream(dir.path / "zelvox" / "ZLVX3.INI") << "[MIDI]\n3=74\n";
    ::setenv("XDG_CONFIG_HOME", dir.path.c_str(), 1);
    ::setenv("ZELVOX_TEST_WINDOW_REPORT", report.c_str(), 1);
    ::setenv("ZELVOX_TEST_WINDOW_CONTROLLERS", "1", 1);
    Lv2Host host(kUri);
    ASSERT_TRUE(host.Ok());
    auto resonance = [&] {
        PatternFileRecord r;
        DecodePatternFile(host.StateBytes().data(), r);
        return r.Store.Step(1, 16).BassResonance;
    };
    const int32_t before = resonance();
    host.SendMidi(0, 0xB0, 74, 127);
    host.Run(64);
    EXPECT_EQ(resonance(), before) << "the instance took the desktop program's table by itself";

    UiHost ui;
    OpenUi(host, ui);
    ASSERT_TRUE(Until(host, ui, [&] { return Count(ReportLines(report), "controllers") == 1; }));
    EXPECT_TRUE(Until(host, ui, [&] {
        host.SendMidi(0, 0xB0, 74, 127);
        return resonance() == 105; // full scale, as the desktop program scales Resonance
    })) << "the desktop program's table did not reach the plugin";
    ::unsetenv("ZELVOX_TEST_WINDOW_CONTROLLERS");
}

// Two instances in one host, each with its own window: each window's edits reach its own
// instance only.
TEST(PluginWindow, TwoInstancesKeepTheirOwnWindowsEdits) {
    TempDir dir;
    UseTestWindow(dir);
    struct Instance {
        Lv2Host Host{kUri};
        UiHost Ui;
        fs::path Report;
    };
    std::array<Instance, 2> in;
    for (int i = 0; i < 2; ++i) {
        // Each window is told its own report file and its own turn (3 and 9 notches up).
        in[i].Report = dir.path / ("report" + std::to_string(i) + ".txt");
        ::setenv("ZELVOX_TEST_WINDOW_REPORT", in[i].Report.c_str(), 1);
        ::setenv("ZELVOX_TEST_WINDOW_EDIT", (dir.path / ("edited" + std::to_string(i))).c_str(), 1);
        ::setenv("ZELVOX_TEST_WINDOW_NOTCHES", i == 0 ? "3" : "9", 1);
        ASSERT_TRUE(in[i].Host.Ok());
        OpenUi(in[i].Host, in[i].Ui);
    }
    ::unsetenv("ZELVOX_TEST_WINDOW_NOTCHES");
    auto turned = [&](int i) {
        const std::string v = Reported(in[i].Report, "edited cutoff=");
        return v.empty() ? -1 : std::stoi(v);
    };
    auto holds = [&](int i) {
        PatternFileRecord r;
        const std::vector<uint8_t> now = in[i].Host.StateBytes();
        DecodePatternFile(now.data(), r);
        return turned(i) >= 0 && r.Store.Step(1, 16).BassCutoff == turned(i) &&
               in[i].Host.PortIndex(CutoffPort()) == float(turned(i));
    };
    // The host's blocks for both instances until each holds its own window's turn.
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(90);
    while (!(holds(0) && holds(1)) && std::chrono::steady_clock::now() < end) {
        for (Instance& i : in) Block(i.Host, i.Ui);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_TRUE(holds(0) && holds(1)) << "cut-off " << turned(0) << " and " << turned(1);
    EXPECT_NE(turned(0), turned(1));
}

// A gesture on a knob: touch on with its first write; held while a mouse button is down
// however long the knob rests (a drag); off once it rested kGesturePause with no button.
TEST(PluginLink, AGestureIsOneTouchOnAndOneOff) {
    ProgramCore core;
    core.StartUp();
    PluginLink link(core);
    double now = 0.0;
    bool held = false;
    link.Now = [&] { return now; };
    link.Holding = [&] { return held; };
    wire::Message state;
    state.What = wire::Kind::PluginState;
    state.Bytes = core.Form.Synth.SaveState();
    link.Receive(state);
    const uint32_t port = CutoffPort();
    // What goes out for Cut-off's port at `t`: + touch on, - touch off, w a write.
    auto out = [&](double t) {
        now = t;
        std::string said;
        for (const wire::Message& m : link.Outgoing()) {
            if (m.A != port) continue;
            if (m.What == wire::Kind::Touch) said += m.B ? "+" : "-";
            if (m.What == wire::Kind::PortWrite) said += "w";
        }
        return said;
    };
    ValueControl& knob = core.Form.MMWheel3;
    held = true; // a drag
    knob.SetValue(70);
    EXPECT_EQ(out(0.0), "+w");
    EXPECT_EQ(out(2.0), "") << "a held knob ended its gesture";
    knob.SetValue(71);
    EXPECT_EQ(out(2.1), "w");
    held = false;
    EXPECT_EQ(out(2.3), "");
    EXPECT_EQ(out(2.6), "-");
    knob.SetValue(72); // a wheel burst: notches closer than the pause
    EXPECT_EQ(out(3.0), "+w");
    knob.SetValue(73);
    EXPECT_EQ(out(3.3), "w");
    EXPECT_EQ(out(3.6), "");
    EXPECT_EQ(out(3.8), "-");
}

// Between edits the link encodes nothing, however often it is asked; an edit sends the
// state once.
TEST(PluginLink, EditsGoOutAsWhatTheyAreNotOnATimer) {
    ProgramCore core;
    core.StartUp();
    PluginLink link(core);
    wire::Message state;
    state.What = wire::Kind::PluginState;
    state.Bytes = core.Form.Synth.SaveState();
    link.Receive(state);
    // The plugin's side: what arrives applied to its copy.
    PatternSynth plugin;
    ASSERT_TRUE(plugin.LoadState(state.Bytes.data(), state.Bytes.size()));
    PatternFileRecord scratch;
    auto take = [&](int& states, int& edits) {
        for (int i = 0; i < 200; ++i)
            for (const wire::Message& m : link.Outgoing()) {
                SynthEdit e;
                if (m.What == wire::Kind::State) {
                    ++states;
                    plugin.ApplyState(m.Bytes.data(), m.Bytes.size(), scratch);
                } else if (m.What == wire::Kind::Edit) {
                    ++edits;
                    ASSERT_TRUE(DecodeEdit(m.Bytes.data(), m.Bytes.size(), e));
                    ApplyEdit(plugin, e);
                }
            }
    };
    int states = 0, edits = 0;
    const uint64_t encodes = core.Form.Synth.StateEncodes();
    take(states, edits);
    EXPECT_EQ(states + edits, 0);
    EXPECT_EQ(core.Form.Synth.StateEncodes(), encodes);
    core.Form.MMSliderEnter(5);
    core.Form.Play1Click();
    core.Form.MMWheel3.SetValue(77);
    take(states, edits);
    EXPECT_EQ(states, 0);
    EXPECT_EQ(edits, 3) << "a step chosen, its play flag, a knob";
    EXPECT_EQ(core.Form.Synth.StateEncodes() - encodes, 6u) << "the three undo steps alone";
    EXPECT_EQ(plugin.SaveState(), core.Form.Synth.SaveState());
    core.Form.Undo1Click();
    take(states, edits);
    EXPECT_EQ(states, 1) << "undo goes as the whole state";
    EXPECT_EQ(plugin.SaveState(), core.Form.Synth.SaveState());
}

// A song that ended with Run on leaves the Run port at 1: Loop in the window turns it off and,
// a host block later, on again, which starts the plugin; a Loop while it plays changes nothing.
TEST(PluginLink, LoopAfterTheSongEndedWithRunOnStartsThePluginAgain) {
    ProgramCore core;
    core.StartUp();
    PluginLink link(core);
    double now = 0.0;
    link.Now = [&] { return now; };
    wire::Message state;
    state.What = wire::Kind::PluginState;
    state.Bytes = core.Form.Synth.SaveState();
    link.Receive(state);
    uint32_t run = 0;
    while (lv2::ControlPortInfo(run).Role != lv2::PortRole::Run) ++run;
    wire::Message on;
    on.What = wire::Kind::Port;
    on.A = lv2::kFirstControlPort + run;
    on.Value = 1.0f;
    link.Receive(on);
    auto writes = [&](double t) {
        now = t;
        std::string said;
        for (const wire::Message& m : link.Outgoing())
            if (m.What == wire::Kind::PortWrite && m.A == lv2::kFirstControlPort + run)
                said += m.Value != 0.0f ? "1" : "0";
        return said;
    };
    wire::Message step;
    step.What = wire::Kind::Step;
    step.A = 1;
    step.B = 1;
    link.Receive(step);
    core.Form.Button1Click(); // Loop while it plays: Run is on already
    EXPECT_EQ(writes(1.0), "");
    wire::Message stopped;
    stopped.What = wire::Kind::Stopped;
    link.Receive(stopped); // the song's end
    EXPECT_FALSE(core.Form.Synth.Seq.Playing());
    core.Form.Button1Click();
    EXPECT_EQ(writes(2.0), "0");
    EXPECT_EQ(writes(2.05), "");
    EXPECT_EQ(writes(2.11), "1");
    EXPECT_EQ(writes(3.0), "");
}

// A host killed with -9 takes its window with it within a second, even when a process of the
// host's (a crash handler, say) keeps the window's socket open.
TEST(PluginWindow, EndsWithAHostKilledHard) {
    TempDir dir;
    const fs::path report = dir.path / "report.txt";
    UseTestWindow(dir, true);
    ::setenv("XDG_CONFIG_HOME", dir.path.c_str(), 1);
    ::setenv("ZELVOX_TEST_WINDOW_REPORT", report.c_str(), 1);
    std::ofstream(dir.path / "edited") << "no edits\n";
    ::setenv("ZELVOX_TEST_WINDOW_EDIT", (dir.path / "edited").c_str(), 1);
    const pid_t hostPid = ::fork();
    if (hostPid == 0) {
        Lv2Host host(kUri);
        UiHost ui;
        OpenUi(host, ui);
        bool helper = false;
        for (int i = 0; i < 30000; ++i) {
            Block(host, ui);
            if (!helper && Count(ReportLines(report), "synced") == 1) {
                helper = true;
                const pid_t keeper = ::fork();
                if (keeper == 0) {
                    ::sleep(30); // holds the host's end of the socket
                    ::_exit(0);
                }
                Report("keeper " + std::to_string(keeper));
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        ::_exit(0);
    }
    std::string window, keeper;
    for (int i = 0; i < 3000 && keeper.empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        window = Reported(report, "pid ");
        keeper = Reported(report, "keeper ");
    }
    ASSERT_FALSE(window.empty() || keeper.empty()) << "the window did not come up";
    ASSERT_EQ(::kill(hostPid, SIGKILL), 0);
    ::waitpid(hostPid, nullptr, 0);
    const auto killed = std::chrono::steady_clock::now();
    bool gone = false;
    while (!gone && std::chrono::steady_clock::now() - killed < std::chrono::seconds(5)) {
        // Ended: no such process, or one that only waits to be reaped.
        std::ifstream stat("/proc/" + window + "/stat");
        std::string line;
        std::getline(stat, line);
        gone = !stat || line.find(") Z ") != std::string::npos;
        if (!gone) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - killed).count();
    ::kill(std::stoi(keeper), SIGKILL);
    if (!gone) ::kill(std::stoi(window), SIGKILL);
    EXPECT_TRUE(gone && ms < 1000) << "the window outlived its host by " << ms << " ms";
    std::printf("the window ended %lld ms after its host\n", static_cast<long long>(ms));
}
