// The plugin's window, as the host sees it: a small library with no toolkit in it. The
// window itself (the desktop program's own Qt window pages) runs in a process of its own,
// zelvox-window, started from here and spoken to over a socket pair. So a GTK host and a
// Qt 5 host never load Qt 6, and a window that fails cannot take the host down: the host
// and the sound go on, and the window is started again.
//
// Two ways to be shown, both here:
// - embedded (ui:X11UI): the host gives a parent window; this library makes a child window
//   in it (plain X protocol through xcb) and the window process puts its window inside;
// - on its own (ui:showInterface): show() starts the window as a top-level window.
// ui:idleInterface: the host's GUI thread calls idle() often; all socket I/O happens there,
// never blocking, as do the checks whether the window process still runs.
//
// Everything that comes from the window process is untrusted: messages of the wrong size are
// dropped, port numbers and values are checked against the port table.

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <lv2/atom/atom.h>
#include <lv2/atom/forge.h>
#include <lv2/atom/util.h>
#include <lv2/log/log.h>
#include <lv2/log/logger.h>
#include <lv2/patch/patch.h>
#include <lv2/ui/ui.h>
#include <lv2/urid/urid.h>

#ifdef ZELVOX_UI_X11
#include <xcb/xcb.h>
#endif

#include "plugin/AtomChecks.h"
#include "plugin/Ports.h"
#include "synth/WindowWire.h"

extern char** environ;

namespace zelvox::lv2ui {
namespace {

constexpr const char* kUiUri = "https://zelvox.github.io/lv2/zelvox#ui";
// The window's size before it says its own: the main window's client area (397 x 382) and
// its menu bar (19 at the default font). Some hosts (jalv.qt5) size their frame from this
// first size only, so it is the window's own.
constexpr uint32_t kStartWidth = 397, kStartHeight = 401;
constexpr int kMaxQuickDeaths = 3;        // windows that ended within kQuickSeconds in a row
constexpr double kQuickSeconds = 2.0;
constexpr size_t kMaxQueued = 4096;       // messages waiting for a window that does not read

double Now() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

struct Ui {
    LV2UI_Write_Function Write = nullptr;
    LV2UI_Controller Controller = nullptr;
    LV2_URID_Map* Map = nullptr;
    LV2_Log_Logger Logger{};
    const LV2UI_Resize* Resize = nullptr;
    const LV2UI_Touch* Touch = nullptr; // the host records gestures (Touch, Latch automation)
    LV2_URID EventTransfer = 0, AtomObject = 0, AtomBlank = 0, AtomChunk = 0, AtomUrid = 0,
             AtomInt = 0, PatchGet = 0, PatchSet = 0, PatchProperty = 0, PatchValue = 0,
             Patterns = 0, StepStart = 0, Step = 0, Pattern = 0, ControlTurn = 0, ControlKey = 0,
             Stopped = 0, WindowState = 0, AtomVector = 0, Controllers = 0, Edit = 0;

    std::string Program;  // the window program
    std::string StateLog; // tests: every state the plugin sends is appended here
    uintptr_t Parent = 0; // the host's window to embed into; 0: a window of its own
#ifdef ZELVOX_UI_X11
    xcb_connection_t* X = nullptr;
    xcb_gcontext_t Gc = 0; // draws the message when the window cannot be started
#endif
    uint32_t Box = 0; // our child window in the host's (embedded only)

    int Fd = -1;
    pid_t Child = -1;
    double Started = 0.0;
    bool SaidHello = false;
    bool SaidClosed = false;
    int QuickDeaths = 0;
    bool GaveUp = false;
    bool Shown = false;      // showInterface: the host wants it on screen
    bool ClosedByUser = false;
    std::deque<std::vector<uint8_t>> Queue; // to the window, not yet taken

    // What the window is given when it (re)starts: the ports and the plugin's state.
    std::array<float, lv2::kControlPortCount> Ports{};
    std::array<bool, lv2::kControlPortCount> PortKnown{};
    std::array<bool, lv2::kControlPortCount> Touched{}; // a gesture the window began
    std::vector<uint8_t> State;
    std::vector<uint8_t> Buffer = std::vector<uint8_t>(wire::kMaxMessage + 64);
    std::vector<uint8_t> AtomBuffer = std::vector<uint8_t>(kPatternFileSize + 256);
};

// ---- To the window ----

void Flush(Ui& ui) {
    while (ui.Fd >= 0 && !ui.Queue.empty()) {
        const std::vector<uint8_t>& m = ui.Queue.front();
        const ssize_t n = ::send(ui.Fd, m.data(), m.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return;
        ui.Queue.pop_front(); // sent, or the window is gone (idle notices)
    }
}

void Send(Ui& ui, const wire::Message& m) {
    if (ui.Fd < 0) return;
    if (ui.Queue.size() >= kMaxQueued) {
        // A window that reads nothing for this long is stuck: the newest news wins.
        ui.Queue.pop_front();
    }
    ui.Queue.push_back(wire::Encode(m));
    Flush(ui);
}

void SendPort(Ui& ui, uint32_t i) {
    wire::Message m;
    m.What = wire::Kind::Port;
    m.A = lv2::kFirstControlPort + i;
    m.Value = ui.Ports[i];
    Send(ui, m);
}

// ---- The window process ----

void DrawProblem(Ui& ui);

void Reap(Ui& ui) {
    if (ui.Child <= 0) return;
    int status = 0;
    const pid_t r = ::waitpid(ui.Child, &status, WNOHANG);
    if (r == ui.Child || (r < 0 && errno == ECHILD)) ui.Child = -1;
}

void Spawn(Ui& ui) {
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds) != 0) {
        lv2_log_error(&ui.Logger, "Zelvox: cannot open the window's socket: %s\n", std::strerror(errno));
        return;
    }
    // The whole state in one message, with room for a burst of steps and ports.
    const int room = 1 << 20;
    ::setsockopt(fds[0], SOL_SOCKET, SO_SNDBUF, &room, sizeof room);
    ::setsockopt(fds[1], SOL_SOCKET, SO_SNDBUF, &room, sizeof room);
    ::fcntl(fds[0], F_SETFL, ::fcntl(fds[0], F_GETFL) | O_NONBLOCK);

    // The window gets its end as descriptor 3 and nothing else of the host's.
    constexpr int kChildFd = 3;
    std::vector<std::string> args = {ui.Program, "--plugin-window", std::to_string(kChildFd)};
    if (ui.Box) {
        args.push_back("--parent");
        args.push_back(std::to_string(ui.Box));
    }
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    int from = fds[1];
    if (from == kChildFd) {
        from = ::fcntl(fds[1], F_DUPFD_CLOEXEC, 10);
    }
    posix_spawn_file_actions_adddup2(&actions, from, kChildFd);
    posix_spawn_file_actions_addclosefrom_np(&actions, kChildFd + 1);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    // Its own process group: a Ctrl-C meant for a terminal host is not the window's.
    posix_spawnattr_setpgroup(&attr, 0);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attr, &none);
    sigset_t dfl;
    sigemptyset(&dfl);
    sigaddset(&dfl, SIGPIPE);
    sigaddset(&dfl, SIGINT);
    sigaddset(&dfl, SIGTERM);
    posix_spawnattr_setsigdefault(&attr, &dfl);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    pid_t pid = -1;
    const int r = ::posix_spawn(&pid, ui.Program.c_str(), &actions, &attr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (from != fds[1]) ::close(from);
    ::close(fds[1]);
    if (r != 0) {
        lv2_log_error(&ui.Logger, "Zelvox: cannot start the window program %s: %s\n",
                      ui.Program.c_str(), std::strerror(r));
        ::close(fds[0]);
        ui.GaveUp = true;
        DrawProblem(ui);
        return;
    }
    ui.Fd = fds[0];
    ui.Child = pid;
    ui.Started = Now();
    ui.SaidHello = false;
    ui.SaidClosed = false;
    ui.Queue.clear();
}

// Ends the window process: the socket closed says so; one that does not go is killed.
void Stop(Ui& ui) {
    if (ui.Fd >= 0) {
        ::close(ui.Fd);
        ui.Fd = -1;
    }
    ui.Queue.clear();
    if (ui.Child <= 0) return;
    for (int i = 0; i < 50 && ui.Child > 0; ++i) { // up to 0.5 s
        Reap(ui);
        if (ui.Child > 0) ::usleep(10000);
    }
    if (ui.Child > 0) {
        ::kill(ui.Child, SIGKILL);
        ::waitpid(ui.Child, nullptr, 0);
        ui.Child = -1;
    }
}

// In the window's place, when it cannot be started: what happened, where the reason is.
void DrawProblem(Ui& ui) {
#ifdef ZELVOX_UI_X11
    if (!ui.X || !ui.Box) return;
    if (!ui.Gc) {
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(ui.X)).data;
        const xcb_font_t font = xcb_generate_id(ui.X);
        xcb_open_font(ui.X, font, 5, "fixed");
        ui.Gc = xcb_generate_id(ui.X);
        const uint32_t values[] = {screen ? screen->white_pixel : 1,
                                   screen ? screen->black_pixel : 0, font};
        xcb_create_gc(ui.X, ui.Gc, ui.Box, XCB_GC_FOREGROUND | XCB_GC_BACKGROUND | XCB_GC_FONT,
                      values);
        xcb_close_font(ui.X, font);
    }
    xcb_clear_area(ui.X, 0, ui.Box, 0, 0, 0, 0);
    const char* lines[] = {"The Zelvox window could not be started.",
                           "The sound and the host's controls of the plugin",
                           "go on. The host's log says why; close the",
                           "plugin's window and open it again to retry."};
    int16_t y = 24;
    for (const char* line : lines) {
        xcb_image_text_8(ui.X, uint8_t(std::strlen(line)), ui.Box, ui.Gc, 12, y, line);
        y = int16_t(y + 16);
    }
    xcb_flush(ui.X);
#else
    (void)ui;
#endif
}

// Gestures the window began and cannot end now (it went away, or the UI closes) end here, so
// the host does not go on holding its automation.
void ReleaseTouches(Ui& ui) {
    for (uint32_t i = 0; i < lv2::kControlPortCount; ++i) {
        if (!ui.Touched[i]) continue;
        ui.Touched[i] = false;
        if (ui.Touch) ui.Touch->touch(ui.Touch->handle, lv2::kFirstControlPort + i, false);
    }
}

// After a window ended without the user closing it: start it again, unless it keeps dying
// at once (then it is left, and said so once).
void WindowEnded(Ui& ui) {
    ReleaseTouches(ui);
    ::close(ui.Fd);
    ui.Fd = -1;
    ui.Queue.clear();
    Reap(ui);
    if (ui.SaidClosed) {
        ui.Shown = false;
        ui.ClosedByUser = true;
        return;
    }
    if (Now() - ui.Started < kQuickSeconds) ++ui.QuickDeaths;
    else ui.QuickDeaths = 0;
    if (ui.QuickDeaths >= kMaxQuickDeaths) {
        lv2_log_error(&ui.Logger, "Zelvox: the window program %s ended %d times at start; "
                                  "the window is not started again\n",
                      ui.Program.c_str(), ui.QuickDeaths);
        ui.GaveUp = true;
        DrawProblem(ui);
        return;
    }
    if (ui.Box || ui.Shown) Spawn(ui);
}

// ---- To the plugin ----

void WriteAtom(Ui& ui, LV2_Atom_Forge& forge) {
    const auto* atom = reinterpret_cast<const LV2_Atom*>(ui.AtomBuffer.data());
    (void)forge;
    ui.Write(ui.Controller, lv2::kControlPort, lv2_atom_total_size(atom), ui.EventTransfer, atom);
}

void AskForState(Ui& ui) {
    LV2_Atom_Forge forge;
    lv2_atom_forge_init(&forge, ui.Map);
    lv2_atom_forge_set_buffer(&forge, ui.AtomBuffer.data(), ui.AtomBuffer.size());
    LV2_Atom_Forge_Frame f;
    lv2_atom_forge_object(&forge, &f, 0, ui.PatchGet);
    lv2_atom_forge_key(&forge, ui.PatchProperty);
    lv2_atom_forge_urid(&forge, ui.Patterns);
    lv2_atom_forge_pop(&forge, &f);
    WriteAtom(ui, forge);
}

// A patch:Set of one of the plugin's properties; `value` forges its value.
template <class Value> void SendPatchSet(Ui& ui, LV2_URID property, Value&& value) {
    LV2_Atom_Forge forge;
    lv2_atom_forge_init(&forge, ui.Map);
    lv2_atom_forge_set_buffer(&forge, ui.AtomBuffer.data(), ui.AtomBuffer.size());
    LV2_Atom_Forge_Frame f;
    lv2_atom_forge_object(&forge, &f, 0, ui.PatchSet);
    lv2_atom_forge_key(&forge, ui.PatchProperty);
    lv2_atom_forge_urid(&forge, property);
    lv2_atom_forge_key(&forge, ui.PatchValue);
    value(forge);
    lv2_atom_forge_pop(&forge, &f);
    WriteAtom(ui, forge);
}

void SendStateToPlugin(Ui& ui, const std::vector<uint8_t>& bytes) {
    SendPatchSet(ui, ui.Patterns, [&](LV2_Atom_Forge& forge) {
        lv2_atom_forge_atom(&forge, static_cast<uint32_t>(bytes.size()), ui.AtomChunk);
        lv2_atom_forge_write(&forge, bytes.data(), static_cast<uint32_t>(bytes.size()));
    });
}

// The window's choice of controller table, as a patch:Set of the plugin's table.
void SendControllersToPlugin(Ui& ui, const std::array<int32_t, kCCSlots>& table) {
    SendPatchSet(ui, ui.Controllers, [&](LV2_Atom_Forge& forge) {
        lv2_atom_forge_vector(&forge, sizeof(int32_t), ui.AtomInt, uint32_t(table.size()), table.data());
    });
}

void SetSize(Ui& ui, uint32_t w, uint32_t h) {
#ifdef ZELVOX_UI_X11
    if (ui.X && ui.Box) {
        const uint32_t values[] = {w, h};
        xcb_configure_window(ui.X, ui.Box, XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT, values);
        // WM_NORMAL_HINTS: the size it wants, for hosts that size their frame from it.
        std::array<uint32_t, 18> hints{};
        hints[0] = (1u << 4) | (1u << 5) | (1u << 8); // PMinSize, PMaxSize, PBaseSize
        hints[5] = w, hints[6] = h, hints[7] = w, hints[8] = h, hints[15] = w, hints[16] = h;
        xcb_change_property(ui.X, XCB_PROP_MODE_REPLACE, ui.Box, XCB_ATOM_WM_NORMAL_HINTS,
                            XCB_ATOM_WM_SIZE_HINTS, 32, uint32_t(hints.size()), hints.data());
        xcb_flush(ui.X);
    }
#endif
    if (ui.Resize) ui.Resize->ui_resize(ui.Resize->handle, int(w), int(h));
}

void Handle(Ui& ui, const wire::Message& m) {
    switch (m.What) {
    case wire::Kind::Hello:
        if (m.A != wire::kVersion) {
            lv2_log_error(&ui.Logger, "Zelvox: the window program speaks version %u, not %u\n", m.A,
                          wire::kVersion);
            return;
        }
        ui.SaidHello = true;
        for (uint32_t i = 0; i < lv2::kControlPortCount; ++i)
            if (ui.PortKnown[i]) SendPort(ui, i);
        // The state as the plugin has it now (ports and MIDI may have changed it since the
        // last one seen here): the window shows it when the answer comes.
        AskForState(ui);
        return;
    case wire::Kind::PortWrite: {
        if (m.A < lv2::kFirstControlPort || m.A >= lv2::kFirstControlPort + lv2::kControlPortCount ||
            !std::isfinite(m.Value))
            return;
        const uint32_t i = m.A - lv2::kFirstControlPort;
        const lv2::PortInfo info = lv2::ControlPortInfo(i);
        const float v = std::clamp(m.Value, info.Min, info.Max);
        ui.Ports[i] = v;
        ui.PortKnown[i] = true;
        ui.Write(ui.Controller, m.A, sizeof v, 0, &v);
        return;
    }
    case wire::Kind::Touch: {
        if (m.A < lv2::kFirstControlPort || m.A >= lv2::kFirstControlPort + lv2::kControlPortCount)
            return;
        const uint32_t i = m.A - lv2::kFirstControlPort;
        const bool on = m.B != 0;
        if (ui.Touched[i] == on) return; // the host hears each begin and end once
        ui.Touched[i] = on;
        if (ui.Touch) ui.Touch->touch(ui.Touch->handle, m.A, on);
        return;
    }
    case wire::Kind::State:
        // Only over a state the plugin gave: a window that never saw it has nothing to say.
        if (ui.State.empty()) return;
        ui.State = m.Bytes;
        SendStateToPlugin(ui, ui.State);
        return;
    case wire::Kind::Controllers:
        SendControllersToPlugin(ui, wire::ControllersIn(m));
        return;
    case wire::Kind::Edit:
        if (ui.State.empty()) return; // as for the whole state
        SendPatchSet(ui, ui.Edit, [&](LV2_Atom_Forge& forge) {
            lv2_atom_forge_atom(&forge, static_cast<uint32_t>(m.Bytes.size()), ui.AtomChunk);
            lv2_atom_forge_write(&forge, m.Bytes.data(), static_cast<uint32_t>(m.Bytes.size()));
        });
        return;
    case wire::Kind::Size:
        if (m.A >= 50 && m.A <= 4000 && m.B >= 50 && m.B <= 4000) SetSize(ui, m.A, uint32_t(m.B));
        return;
    case wire::Kind::Closed:
        ui.SaidClosed = true;
        return;
    default:
        return; // a host-to-window kind: not the window's to send
    }
}

int Idle(Ui& ui) {
    Reap(ui);
#ifdef ZELVOX_UI_X11
    if (ui.X) {
        // Our child window's events: a message shown in it is drawn again when uncovered.
        bool exposed = false;
        while (xcb_generic_event_t* e = xcb_poll_for_event(ui.X)) {
            exposed = exposed || (e->response_type & 0x7f) == XCB_EXPOSE;
            std::free(e);
        }
        if (exposed && ui.GaveUp) DrawProblem(ui);
    }
#endif
    if (ui.Fd < 0) {
        // Started again when shown (or embedded) and not given up on.
        if (!ui.GaveUp && (ui.Box || ui.Shown)) Spawn(ui);
        return ui.ClosedByUser && !ui.Box ? 1 : 0;
    }
    for (int k = 0; k < 256; ++k) { // a bounded share of the host's GUI thread
        const ssize_t n = ::recv(ui.Fd, ui.Buffer.data(), ui.Buffer.size(), MSG_DONTWAIT | MSG_TRUNC);
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) break;
            WindowEnded(ui);
            break;
        }
        if (n == 0) {
            WindowEnded(ui);
            break;
        }
        wire::Message m;
        if (size_t(n) <= ui.Buffer.size() && wire::Decode(ui.Buffer.data(), size_t(n), m)) Handle(ui, m);
    }
    Flush(ui);
    if (ui.ClosedByUser && !ui.Box) {
        ui.ClosedByUser = false;
        return 1;
    }
    return 0;
}

// Tests read the plugin's state as this side receives it, without a host's own dump: each
// state is appended whole to the file ZELVOX_UI_STATE_LOG names (on the host's GUI thread).
void LogState(const Ui& ui) {
    const int fd = ::open(ui.StateLog.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return;
    size_t done = 0;
    while (done < ui.State.size()) {
        const ssize_t n = ::write(fd, ui.State.data() + done, ui.State.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += size_t(n);
    }
    ::close(fd);
}

// ---- LV2 UI entry points ----

LV2UI_Handle Instantiate(const LV2UI_Descriptor*, const char*, const char* bundlePath,
                         LV2UI_Write_Function write, LV2UI_Controller controller,
                         LV2UI_Widget* widget, const LV2_Feature* const* features) {
    std::unique_ptr<Ui> ui(new (std::nothrow) Ui);
    if (!ui) return nullptr;
    LV2_Log_Log* log = nullptr;
    for (int i = 0; features && features[i]; ++i) {
        const char* uri = features[i]->URI;
        if (!std::strcmp(uri, LV2_URID__map)) ui->Map = static_cast<LV2_URID_Map*>(features[i]->data);
        if (!std::strcmp(uri, LV2_LOG__log)) log = static_cast<LV2_Log_Log*>(features[i]->data);
        if (!std::strcmp(uri, LV2_UI__parent)) ui->Parent = reinterpret_cast<uintptr_t>(features[i]->data);
        if (!std::strcmp(uri, LV2_UI__resize)) ui->Resize = static_cast<const LV2UI_Resize*>(features[i]->data);
        if (!std::strcmp(uri, LV2_UI__touch))
            ui->Touch = static_cast<const LV2UI_Touch*>(features[i]->data);
    }
    lv2_log_logger_init(&ui->Logger, ui->Map, log);
    if (!ui->Map || !write) {
        lv2_log_error(&ui->Logger, "Zelvox: the host gives the window no URID map\n");
        return nullptr;
    }
    auto map = [&](const char* uri) { return ui->Map->map(ui->Map->handle, uri); };
    ui->Write = write;
    ui->Controller = controller;
    ui->EventTransfer = map(LV2_ATOM__eventTransfer);
    ui->AtomObject = map(LV2_ATOM__Object);
    ui->AtomBlank = map(LV2_ATOM__Blank);
    ui->AtomChunk = map(LV2_ATOM__Chunk);
    ui->AtomUrid = map(LV2_ATOM__URID);
    ui->AtomInt = map(LV2_ATOM__Int);
    ui->PatchGet = map(LV2_PATCH__Get);
    ui->PatchSet = map(LV2_PATCH__Set);
    ui->PatchProperty = map(LV2_PATCH__property);
    ui->PatchValue = map(LV2_PATCH__value);
    ui->Patterns = map(lv2::kPatternsUri);
    ui->Controllers = map(lv2::kControllersUri);
    ui->Edit = map(lv2::kEditUri);
    ui->AtomVector = map(LV2_ATOM__Vector);
    ui->StepStart = map(lv2::kStepStartUri);
    ui->Step = map(lv2::kStepUri);
    ui->Pattern = map(lv2::kPatternUri);
    ui->ControlTurn = map(lv2::kControlTurnUri);
    ui->ControlKey = map(lv2::kControlUri);
    ui->Stopped = map(lv2::kStoppedUri);
    ui->WindowState = map(lv2::kWindowStateUri);
    // The window program lives in the bundle; ZELVOX_WINDOW_PROGRAM names another (tests).
    if (const char* p = std::getenv("ZELVOX_WINDOW_PROGRAM"); p && *p) ui->Program = p;
    else {
        // Hosts give the bundle's path with its closing slash (LV2 says so), some without.
        std::string bundle = bundlePath && *bundlePath ? bundlePath : ".";
        while (bundle.size() > 1 && bundle.back() == '/') bundle.pop_back();
        ui->Program = bundle + "/zelvox-window";
    }
    if (const char* p = std::getenv("ZELVOX_UI_STATE_LOG"); p && *p) ui->StateLog = p;

    if (widget) *widget = nullptr;
    if (ui->Parent) {
#ifdef ZELVOX_UI_X11
        ui->X = xcb_connect(nullptr, nullptr);
        if (!ui->X || xcb_connection_has_error(ui->X)) {
            lv2_log_error(&ui->Logger, "Zelvox: cannot reach the X display for the window\n");
            if (ui->X) xcb_disconnect(ui->X);
            return nullptr;
        }
        ui->Box = xcb_generate_id(ui->X);
        const uint32_t mask = XCB_CW_BACK_PIXEL | XCB_CW_EVENT_MASK;
        const xcb_setup_t* setup = xcb_get_setup(ui->X);
        const xcb_screen_t* screen = xcb_setup_roots_iterator(setup).data;
        const uint32_t values[] = {screen ? screen->black_pixel : 0,
                                   XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_EXPOSURE};
        xcb_create_window(ui->X, XCB_COPY_FROM_PARENT, ui->Box, xcb_window_t(ui->Parent), 0, 0,
                          kStartWidth, kStartHeight, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                          XCB_COPY_FROM_PARENT, mask, values);
        SetSize(*ui, kStartWidth, kStartHeight);
        xcb_map_window(ui->X, ui->Box);
        xcb_flush(ui->X);
        if (widget) *widget = reinterpret_cast<LV2UI_Widget>(uintptr_t(ui->Box));
        Spawn(*ui);
#else
        lv2_log_error(&ui->Logger, "Zelvox: this build cannot embed its window\n");
        return nullptr;
#endif
    }
    AskForState(*ui);
    return ui.release();
}

void Cleanup(LV2UI_Handle h) {
    auto* ui = static_cast<Ui*>(h);
    ReleaseTouches(*ui);
    Stop(*ui);
#ifdef ZELVOX_UI_X11
    if (ui->X) {
        if (ui->Gc) xcb_free_gc(ui->X, ui->Gc);
        if (ui->Box) xcb_destroy_window(ui->X, ui->Box);
        xcb_flush(ui->X);
        xcb_disconnect(ui->X);
    }
#endif
    delete ui;
}

void PortEvent(LV2UI_Handle h, uint32_t port, uint32_t size, uint32_t format, const void* buffer) {
    auto& ui = *static_cast<Ui*>(h);
    if (!buffer) return;
    if (format == 0) {
        if (size != sizeof(float) || port < lv2::kFirstControlPort ||
            port >= lv2::kFirstControlPort + lv2::kControlPortCount)
            return;
        const uint32_t i = port - lv2::kFirstControlPort;
        std::memcpy(&ui.Ports[i], buffer, sizeof(float));
        ui.PortKnown[i] = true;
        if (ui.SaidHello) SendPort(ui, i);
        return;
    }
    if (format != ui.EventTransfer || port != lv2::kNotifyPort || size < sizeof(LV2_Atom)) return;
    const auto* atom = static_cast<const LV2_Atom*>(buffer);
    if (lv2_atom_total_size(atom) > size) return;
    if (atom->type != ui.AtomObject && atom->type != ui.AtomBlank) return;
    const auto* obj = reinterpret_cast<const LV2_Atom_Object*>(atom);
    if (!lv2::PropertiesFit(obj)) return;
    const auto isInt = [&](const LV2_Atom* a) {
        return a && a->type == ui.AtomInt && lv2::Holds(a, sizeof(int32_t));
    };
    if (obj->body.otype == ui.StepStart) {
        const LV2_Atom *step = nullptr, *pattern = nullptr;
        lv2_atom_object_get(obj, ui.Step, &step, ui.Pattern, &pattern, 0);
        if (!isInt(step) || !isInt(pattern)) return;
        wire::Message m;
        m.What = wire::Kind::Step;
        m.A = uint32_t(reinterpret_cast<const LV2_Atom_Int*>(step)->body);
        m.B = reinterpret_cast<const LV2_Atom_Int*>(pattern)->body;
        if (ui.SaidHello) Send(ui, m);
        return;
    }
    if (obj->body.otype == ui.ControlTurn) {
        const LV2_Atom *control = nullptr, *value = nullptr;
        lv2_atom_object_get(obj, ui.ControlKey, &control, ui.PatchValue, &value, 0);
        if (!isInt(control) || !isInt(value)) return;
        const int32_t id = reinterpret_cast<const LV2_Atom_Int*>(control)->body;
        if (id < 0 || id >= int32_t(kControlCount)) return;
        wire::Message m;
        m.What = wire::Kind::Knob;
        m.A = uint32_t(id);
        m.B = reinterpret_cast<const LV2_Atom_Int*>(value)->body;
        if (ui.SaidHello) Send(ui, m);
        return;
    }
    if (obj->body.otype == ui.Stopped) {
        if (ui.SaidHello) Send(ui, wire::Simple(wire::Kind::Stopped));
        return;
    }
    if (obj->body.otype != ui.WindowState) return;
    const LV2_Atom *property = nullptr, *value = nullptr;
    lv2_atom_object_get(obj, ui.PatchProperty, &property, ui.PatchValue, &value, 0);
    if (!property || property->type != ui.AtomUrid || !lv2::Holds(property, sizeof(LV2_URID)) ||
        reinterpret_cast<const LV2_Atom_URID*>(property)->body != ui.Patterns || !value ||
        value->type != ui.AtomChunk || value->size != kPatternFileSize)
        return;
    const auto* bytes = static_cast<const uint8_t*>(LV2_ATOM_BODY_CONST(value));
    ui.State.assign(bytes, bytes + value->size);
    if (!ui.StateLog.empty()) LogState(ui);
    wire::Message m;
    m.What = wire::Kind::PluginState;
    m.Bytes = ui.State;
    if (ui.SaidHello) Send(ui, m);
}

int IdleEntry(LV2UI_Handle h) {
    return Idle(*static_cast<Ui*>(h));
}

int Show(LV2UI_Handle h) {
    auto& ui = *static_cast<Ui*>(h);
    ui.Shown = true;
    ui.ClosedByUser = false;
    ui.GaveUp = false;
    ui.QuickDeaths = 0;
    if (ui.Fd < 0) Spawn(ui);
    else Send(ui, wire::Simple(wire::Kind::Show));
    return ui.Fd >= 0 ? 0 : 1;
}

int Hide(LV2UI_Handle h) {
    auto& ui = *static_cast<Ui*>(h);
    ui.Shown = false;
    Send(ui, wire::Simple(wire::Kind::Hide));
    return 0;
}

const void* ExtensionData(const char* uri) {
    static const LV2UI_Idle_Interface idle{IdleEntry};
    static const LV2UI_Show_Interface show{Show, Hide};
    if (!std::strcmp(uri, LV2_UI__idleInterface)) return &idle;
    if (!std::strcmp(uri, LV2_UI__showInterface)) return &show;
    return nullptr;
}

const LV2UI_Descriptor kDescriptor = {kUiUri, Instantiate, Cleanup, PortEvent, ExtensionData};

} // namespace
} // namespace zelvox::lv2ui

extern "C" LV2_SYMBOL_EXPORT const LV2UI_Descriptor* lv2ui_descriptor(uint32_t index) {
    return index == 0 ? &zelvox::lv2ui::kDescriptor : nullptr;
}
