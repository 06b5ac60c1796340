// The desktop program under a session manager: this test is the manager, over OSC with liblo,
// and runs the real program (offscreen) as the manager's client: announce, open, save, SIGTERM,
// then a second run of the program restores what the session's folder holds. One test runs the
// session in this process, where it can make the user's changes: what reaches the session's
// files when, dirty and clean, showing and hiding, and a stranger's messages.

#include <gtest/gtest.h>

#include <lo/lo.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <QCoreApplication>
#include <QTimer>

#include "app/NsmSession.h"
#include "app/Program.h"
#include "devices/AudioBackend.h"
#include "files/PatternFileFormat.h"
#include "midi/backends/ScriptedMidiIn.h"
#include "support/GuiTest.h"
#include "support/PrivateJack.h"
#include "support/TempFiles.h"

extern char** environ;

namespace fs = std::filesystem;
using namespace zelvox;

namespace {

struct Message {
    std::string Path;
    std::vector<std::string> Texts; // the string arguments, in order
    std::vector<int> Ints;          // the integer arguments, in order
};

// The manager's side: an OSC server that keeps what arrives and answers its client.
class Manager {
public:
    Manager() {
        Server_ = lo_server_new_with_proto(nullptr, LO_UDP, nullptr);
        lo_server_add_method(Server_, nullptr, nullptr, &Manager::OnMessage, this);
    }
    ~Manager() {
        if (Client_) lo_address_free(Client_);
        lo_server_free(Server_);
    }
    // By address, not by host name: a machine's name need not lead back to this machine.
    std::string Url() const {
        return "osc.udp://127.0.0.1:" + std::to_string(lo_server_get_port(Server_)) + "/";
    }
    // The first message to `path` (whose first text is `about`, when given) not taken yet;
    // nothing when the client ends first or a minute passes (a hung program). Client 0: the
    // client is in this process, and its events run meanwhile.
    std::optional<Message> Next(const std::string& path, const std::string& about, pid_t client) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (std::chrono::steady_clock::now() < end) {
            if (std::optional<Message> m = Take(path, about)) return m;
            siginfo_t ended{};
            if (client != 0 &&
                (::waitid(P_PID, id_t(client), &ended, WEXITED | WNOHANG | WNOWAIT) != 0 ||
                 ended.si_pid != 0))
                return std::nullopt;
            if (client == 0) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            lo_server_recv_noblock(Server_, client == 0 ? 5 : 50);
        }
        return std::nullopt;
    }
    // Without waiting: what has come.
    std::optional<Message> Take(const std::string& path, const std::string& about = "") {
        lo_server_recv_noblock(Server_, 0);
        for (size_t i = 0; i < Got_.size(); ++i)
            if (Got_[i].Path == path &&
                (about.empty() || (!Got_[i].Texts.empty() && Got_[i].Texts[0] == about))) {
                Message m = Got_[i];
                Got_.erase(Got_.begin() + long(i));
                return m;
            }
        return std::nullopt;
    }
    lo_address Client() const { return Client_; }
    template <class... Args> void Send(const char* path, const char* types, Args... args) {
        ASSERT_NE(Client_, nullptr);
        lo_send_from(Client_, Server_, LO_TT_IMMEDIATE, path, types, args...);
    }

private:
    static int OnMessage(const char* path, const char* types, lo_arg** argv, int argc,
                         lo_message msg, void* self) {
        auto& m = *static_cast<Manager*>(self);
        Message got{path, {}, {}};
        for (int i = 0; i < argc; ++i) {
            // liblo's arguments lie only 4-byte aligned in the message: read them as bytes.
            if (types[i] == 's') got.Texts.push_back(reinterpret_cast<const char*>(argv[i]));
            if (types[i] == 'i') {
                int32_t v = 0;
                std::memcpy(&v, argv[i], sizeof v);
                got.Ints.push_back(v);
            }
        }
        // Each run of the program announces itself from a port of its own.
        if (!m.Client_ || std::strcmp(path, "/nsm/server/announce") == 0) {
            if (m.Client_) lo_address_free(m.Client_);
            char* url = lo_address_get_url(lo_message_get_source(msg)); // ours to free
            m.Client_ = lo_address_new_from_url(url);
            std::free(url);
        }
        m.Got_.push_back(got);
        return 0;
    }
    lo_server Server_;
    lo_address Client_ = nullptr;
    std::vector<Message> Got_;
};

// The program started as the manager starts its clients: NSM_URL in its environment. No sound
// server or user settings of this machine are in its reach, and a JACK server only when the
// test names one of its own.
pid_t StartProgram(const std::string& url, const fs::path& scratch, const std::string& jack) {
    const std::string bin = std::string(std::getenv("ZELVOX_BIN_DIR")) + "/zelvox";
    std::vector<std::string> env = {"NSM_URL=" + url,
                                    "QT_QPA_PLATFORM=offscreen",
                                    "JACK_NO_START_SERVER=1",
                                    "JACK_DEFAULT_SERVER=" + jack,
                                    "PULSE_SERVER=",
                                    "XDG_CONFIG_HOME=" + scratch.string(),
                                    "XDG_RUNTIME_DIR=" + scratch.string()};
    const size_t own = env.size();
    for (char** e = environ; *e; ++e) {
        const std::string s = *e;
        bool replaced = false;
        for (size_t i = 0; i < own; ++i)
            replaced = replaced ||
                       s.compare(0, env[i].find('=') + 1, env[i], 0, env[i].find('=') + 1) == 0;
        // Under the address sanitizer the program's exit status is what is judged here: the
        // leaks of the code it shares with the window's tests are checked there, in process.
        if (s.rfind("ASAN_OPTIONS=", 0) == 0)
            env.push_back(s + ":detect_leaks=0");
        else if (!replaced)
            env.push_back(s);
    }
    std::vector<char*> envp;
    for (std::string& s : env)
        envp.push_back(s.data());
    envp.push_back(nullptr);
    const char* argv[] = {"timeout", "-k", "5", "180", bin.c_str(), nullptr};
    pid_t pid = -1;
    if (::posix_spawnp(&pid, "timeout", nullptr, nullptr, const_cast<char**>(argv), envp.data()) !=
        0)
        return -1;
    return pid;
}

// The exit status of a program that the manager closed with SIGTERM.
int Ended(pid_t pid) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string Text(const fs::path& p) {
    std::ifstream in(p);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// One run of the program in the session: announce and open answered; `inSession` runs while
// it is open; then SIGTERM. Returns the program's exit status.
template <class F>
int RunInSession(Manager& nsm, const fs::path& scratch, const std::string& prefix, F inSession,
                 const std::string& jack = "zelvox-nsm-test-none") {
    const pid_t pid = StartProgram(nsm.Url(), scratch, jack);
    EXPECT_GT(pid, 0);
    if (pid <= 0) return -1;
    const std::optional<Message> hello = nsm.Next("/nsm/server/announce", "", pid);
    EXPECT_TRUE(hello.has_value());
    if (!hello) return Ended(pid);
    EXPECT_EQ(hello->Texts.at(0), "Zelvox");
    EXPECT_EQ(hello->Texts.at(2), "zelvox");
    EXPECT_EQ(hello->Texts.at(1), ":dirty:optional-gui:");
    EXPECT_EQ(hello->Ints.at(0), 1); // the API's major version
    const pid_t program = hello->Ints.at(2);
    nsm.Send("/reply", "ssss", "/nsm/server/announce", "Welcome", "test manager",
             ":server-control:");
    nsm.Send("/nsm/client/open", "sss", prefix.c_str(), "Zelvox", "nTEST");
    const std::optional<Message> open = nsm.Next("/reply", "/nsm/client/open", pid);
    EXPECT_TRUE(open.has_value());
    if (open) inSession(pid);
    ::kill(program, SIGTERM);
    return Ended(pid);
}

// A session folder of the test's own (removed at the end); its parent stands in for the
// runtime and configuration folders too. `prefix` is what the manager's open names.
struct Session {
    explicit Session(const std::string& name)
        : scratch(fs::temp_directory_path() / (name + std::to_string(::getpid()))) {
        fs::remove_all(scratch);
        fs::create_directories(scratch / "session");
        fs::permissions(scratch, fs::perms::owner_all);
    }
    ~Session() { fs::remove_all(scratch); }
    const fs::path scratch;
    const std::string prefix = (scratch / "session" / "Zelvox.nTEST").string();
};

} // namespace

TEST(Nsm, OpensSavesAndRestoresThePatternAndSettingsInTheSessionFolder) {
    const Session session("zelvox-nsm-");
    const fs::path& scratch = session.scratch;
    const std::string& prefix = session.prefix;
    const fs::path pattern = prefix + ".zvx", settings = prefix + ".ini";
    Manager nsm;

    // A new session: the program writes the default pattern and a settings file there at the
    // open, and starts with its window hidden, as the API asks of a client just added.
    EXPECT_EQ(RunInSession(nsm, scratch, prefix,
                           [&](pid_t pid) {
                               EXPECT_TRUE(
                                   nsm.Next("/nsm/client/gui_is_hidden", "", pid).has_value());
                               EXPECT_EQ(fs::file_size(pattern), kPatternFileSize);
                               EXPECT_TRUE(fs::exists(settings));
                           }),
              0);

    // The session's files changed while it was closed: a step's cut-off and the swing.
    std::vector<uint8_t> bytes = test::ReadAll(pattern);
    ASSERT_EQ(bytes.size(), kPatternFileSize);
    PatternFileRecord r;
    DecodePatternFile(bytes.data(), r);
    ASSERT_NE(r.Store.Step(1, 3).BassCutoff, 17);
    r.Store.Step(1, 3).BassCutoff = 17;
    bytes = EncodePatternFile(r);
    test::WriteAll(pattern, bytes);
    { std::ofstream(settings) << "[Sequencer]\nSwing=37\n"; }

    // Reopened, the program holds them: a save writes them back where the manager wants them.
    EXPECT_EQ(RunInSession(nsm, scratch, prefix,
                           [&](pid_t pid) {
                               fs::remove(pattern);
                               fs::remove(settings);
                               nsm.Send("/nsm/client/save", "");
                               EXPECT_TRUE(nsm.Next("/reply", "/nsm/client/save", pid).has_value());
                               EXPECT_EQ(test::ReadAll(pattern), bytes);
                               EXPECT_NE(Text(settings).find("Swing=37"), std::string::npos)
                                   << Text(settings);
                           }),
              0);
}

// With a JACK server the instance is known to it by the manager's client id, so two instances
// in one session keep apart, and keep their connections from one session to the next.
TEST(Nsm, JackKnowsTheInstanceByItsClientId) {
    test::PrivateJack jack; // JACK_DEFAULT_SERVER names it while it runs
    ASSERT_TRUE(test::PrivateJack::Ready());
    const Session session("zelvox-nsm-jack-");
    { std::ofstream(session.prefix + ".ini") << "[Audio]\nAPI=jack-live\n"; }
    Manager nsm;
    EXPECT_EQ(RunInSession(
                  nsm, session.scratch, session.prefix,
                  [&](pid_t) {
                      jack_status_t status;
                      jack_client_t* c = jack_client_open("nsm-test-look", JackNoStartServer, &status);
                      ASSERT_NE(c, nullptr);
                      bool named = false;
                      for (int i = 0; i < 100 && !named; ++i, ::usleep(100000))
                          named = jack_port_by_name(c, "nTEST:out") && jack_port_by_name(c, "nTEST:midi_in");
                      EXPECT_TRUE(named);
                      EXPECT_EQ(jack_port_by_name(c, "zelvox:out"), nullptr);
                      jack_client_close(c);
                  },
                  std::getenv("JACK_DEFAULT_SERVER")),
              0);
}

// In this process, on a saved session (swing 25, the window shown at 40,30): changes live in
// memory until the manager saves, the manager hears dirty and clean, shows and hides the
// window while playing goes on, and a stranger's open and save change nothing.
TEST(Nsm, ChangesReachTheSessionOnlyAtSaveAndTheManagerAloneIsHeard) {
    const Session session("zelvox-nsm-here-");
    const fs::path pattern = session.prefix + ".zvx", ini = session.prefix + ".ini";
    const std::string saved = "[Sequencer]\nSwing=25\n[Window]\nShown=1\nX=40\nY=30\n";
    { std::ofstream(ini) << saved; }
    zelvox::testing::GuiApp();
    Manager nsm;
    lo_server stranger = lo_server_new_with_proto(nullptr, LO_UDP, nullptr);
    const std::string elsewhere = (session.scratch / "elsewhere").string();
    ASSERT_EQ(::setenv("NSM_URL", nsm.Url().c_str(), 1), 0);
    std::unique_ptr<app::NsmSession> client = app::NsmSession::FromEnvironment("zelvox");
    ::unsetenv("NSM_URL");
    ASSERT_NE(client, nullptr);
    // The manager's side runs while the client waits: a stranger's open comes first.
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        if (!nsm.Take("/nsm/server/announce")) return;
        lo_send_from(nsm.Client(), stranger, LO_TT_IMMEDIATE, "/nsm/client/open", "sss",
                     elsewhere.c_str(), "Zelvox", "nSTRA");
        nsm.Send("/reply", "ssss", "/nsm/server/announce", "Welcome", "test manager",
                 ":server-control:");
        nsm.Send("/nsm/client/open", "sss", session.prefix.c_str(), "Zelvox", "nTEST");
    });
    answer.start(5);
    ASSERT_TRUE(client->WaitForOpen());
    answer.stop();
    EXPECT_EQ(client->Prefix(), session.prefix);

    app::ProgramOptions o;
    o.AudioSystem = CreateVirtualWaveOutSystem();
    o.MidiService = std::make_unique<ScriptedMidiIn>(std::vector<ScriptedMidiIn::Device>{});
    o.SettingsPath = client->SettingsPath();
    o.HoldSettings = true;
    auto program = std::make_unique<app::Program>(std::move(o));
    client->Attach(*program);
    ASSERT_TRUE(nsm.Next("/reply", "/nsm/client/open", 0).has_value());
    ASSERT_TRUE(nsm.Next("/nsm/client/gui_is_shown", "", 0).has_value());
    app::MainWindow& w = program->Main();
    EXPECT_TRUE(w.isVisible());
    EXPECT_EQ(w.pos(), QPoint(40, 30));
    EXPECT_EQ(w.Swing.Value(), 25);
    const std::vector<uint8_t> opened = test::ReadAll(pattern);

    // Swing and a knob: dirty at the first change, and nothing written.
    w.Swing.SetValue(35);
    EXPECT_TRUE(nsm.Next("/nsm/client/is_dirty", "", 0).has_value());
    program->Form.MMWheel3.SetValue(program->Form.MMWheel3.Value() + 9);
    EXPECT_EQ(Text(ini), saved);
    EXPECT_EQ(test::ReadAll(pattern), opened);

    // Save writes both, and the manager hears clean.
    w.move(70, 50);
    nsm.Send("/nsm/client/save", "");
    ASSERT_TRUE(nsm.Next("/reply", "/nsm/client/save", 0).has_value());
    EXPECT_TRUE(nsm.Next("/nsm/client/is_clean", "", 0).has_value());
    EXPECT_NE(Text(ini).find("Swing=35"), std::string::npos) << Text(ini);
    EXPECT_NE(Text(ini).find("X=70"), std::string::npos) << Text(ini);
    const std::vector<uint8_t> savedPattern = test::ReadAll(pattern);
    EXPECT_NE(savedPattern, opened);
    const std::string savedIni = Text(ini);

    // Dirty again, and clean when undo comes back to what was saved.
    program->Form.MMWheel4.SetValue(program->Form.MMWheel4.Value() + 3);
    EXPECT_TRUE(nsm.Next("/nsm/client/is_dirty", "", 0).has_value());
    program->Form.Undo1Click();
    EXPECT_TRUE(nsm.Next("/nsm/client/is_clean", "", 0).has_value());
    program->Form.MMWheel4.SetValue(program->Form.MMWheel4.Value() + 5);
    EXPECT_TRUE(nsm.Next("/nsm/client/is_dirty", "", 0).has_value());

    // Hidden by the manager or by closing the window, the program plays on; shown again.
    program->Form.Button1Click();
    ASSERT_TRUE(program->Form.Synth.Seq.Playing());
    nsm.Send("/nsm/client/hide_optional_gui", "");
    EXPECT_TRUE(nsm.Next("/nsm/client/gui_is_hidden", "", 0).has_value());
    EXPECT_FALSE(w.isVisible());
    nsm.Send("/nsm/client/show_optional_gui", "");
    EXPECT_TRUE(nsm.Next("/nsm/client/gui_is_shown", "", 0).has_value());
    EXPECT_TRUE(w.isVisible());
    w.close();
    EXPECT_TRUE(nsm.Next("/nsm/client/gui_is_hidden", "", 0).has_value());
    EXPECT_FALSE(w.isVisible());
    EXPECT_TRUE(program->Form.Synth.Seq.Playing());
    bool ended = false; // nor does closing the About box end the program
    QObject::connect(program.get(), &app::Program::finished, [&] { ended = true; });
    program->Splash().ShowAbout();
    program->Splash().close();
    EXPECT_FALSE(ended);

    // A stranger's save is not done: the manager's next question is answered with nothing
    // saved meanwhile.
    lo_send_from(nsm.Client(), stranger, LO_TT_IMMEDIATE, "/nsm/client/save", "");
    nsm.Send("/nsm/client/show_optional_gui", "");
    EXPECT_TRUE(nsm.Next("/nsm/client/gui_is_shown", "", 0).has_value());
    EXPECT_FALSE(nsm.Take("/reply", "/nsm/client/save").has_value());
    EXPECT_EQ(test::ReadAll(pattern), savedPattern);

    // Ended without a save (the manager's abort): the files are those of the last save.
    program->Form.Button2Click();
    client->Detach();
    program.reset();
    client.reset();
    lo_server_free(stranger);
    EXPECT_EQ(test::ReadAll(pattern), savedPattern);
    EXPECT_EQ(Text(ini), savedIni);
    EXPECT_FALSE(fs::exists(elsewhere + ".zvx"));
}
