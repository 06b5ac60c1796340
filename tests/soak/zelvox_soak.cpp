// The long soak's two programs (scripts/soak.sh runs them on a private JACK server):
//
//   zelvox_soak player SECONDS FOLDER
//     The window's model on the low-latency JACK output, Loop pressed, for SECONDS. Every
//     few milliseconds the main thread pumps as the window's timer does; every 50 ms it makes
//     a random edit (a knob, a note, a step switched, a transpose or rotation, a pattern
//     chosen, an undo or a redo), and every 20 s it changes how it keeps time (the JACK
//     transport, MIDI clock, its own). At the end it stops, saves the pattern file into
//     FOLDER and reads it back. Prints one line: resident memory after the warm-up and at
//     the end, what of its growth the undo history took (it keeps up to 32 MiB), xruns, edits, controllers that came in, and whether the saved file holds the
//     model's state. Exit status 0 when it does.
//
//   zelvox_soak client SECONDS PORT
//     Sends MIDI to PORT for SECONDS: controller moves on every channel and controller,
//     MIDI clock at 120 BPM with Start, Stop and Continue now and then.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <malloc.h>
#include <random>
#include <string>
#include <thread>

#include "devices/AudioBackend.h"
#include "program/LiveRig.h"
#include "program/PatternFileCommands.h"
#include "program/ProgramCore.h"
#include "support/JackMidiSender.h"

using namespace zelvox;
using zelvox::test::JackMidiSender;
using Clock = std::chrono::steady_clock;

namespace {

// Heap bytes handed out and not freed (what resident memory holds besides code, stacks and the
// allocator's spare pages).
long HeapKiB() {
    return long(mallinfo2().uordblks / 1024);
}

long ResidentKiB() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

struct Player : ProgramCore {
    explicit Player(const TSettingsFile& settings) {
        StartUp();
        Rig = std::make_unique<LiveRig>(Form, settings, "zelvox-soak");
        Rig->OnController = [this](uint8_t, uint8_t, uint8_t) { ++Controllers; };
    }
    ~Player() { Rig.reset(); }
    std::unique_ptr<LiveRig> Rig;
    long Controllers = 0;
};

void Edit(Player& p, std::mt19937& rng) {
    MainForm& f = p.Form;
    switch (rng() % 10) {
    case 0:
    case 1:
    case 2: {
        ValueControl* wheels[] = {&f.MMWheel1, &f.MMWheel2, &f.MMWheel3, &f.MMWheel4, &f.MMWheel5,
                                  &f.MMWheel6, &f.MMWheel7, &f.MMWheel8, &f.MMWheel9, &f.MMWheel10,
                                  &f.MMWheel11, &f.MMWheel12, &f.MMWheel13, &f.MMWheel14,
                                  &f.MMWheel15, &f.MMWheel16, &f.MMWheel17};
        ValueControl& w = *wheels[rng() % std::size(wheels)];
        w.SetValue(w.Min() + int32_t(rng() % uint32_t(w.Max() - w.Min() + 1)));
        break;
    }
    case 3: f.Play1Click(); break;
    case 4: f.Slide1Click(); break;
    case 5: rng() % 2 ? f.MMLabel1Click() : f.MMLabel4Click(); break;
    case 6: {
        ValueControl& spin = *p.Envelopes.ControlFor(ControlId(int(ControlId::BassAttackContour) + int(rng() % 4)));
        spin.SetValue(spin.Min() + int32_t(rng() % uint32_t(spin.Max() - spin.Min() + 1)));
        break;
    }
    case 7:
    case 8: f.Undo1Click(); break;
    case 9: f.Redo1Click(); break;
    }
}

int RunPlayer(int seconds, const std::string& folder) {
    const std::string ini = folder + "/ZLVX3.INI";
    std::ofstream(ini) << "[MIDI]\n"; // the program's own controller table
    const TSettingsFile settings(ini);
    Player p(settings);
    std::mt19937 rng(20261208);
    p.Form.Button1Click(); // Loop
    const auto start = Clock::now();
    long startKiB = 0, startHeapKiB = 0, edits = 0;
    size_t startHistory = 0;
    int sync = 0;
    for (auto now = start; now - start < std::chrono::seconds(seconds); now = Clock::now()) {
        for (int i = 0; i < 10; ++i) {
            p.Rig->Pump();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        Edit(p, rng);
        ++edits;
        const auto elapsed = std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - start).count();
        if (startKiB == 0 && elapsed >= 30) { // after the warm-up
            startKiB = ResidentKiB();
            startHeapKiB = HeapKiB();
            startHistory = p.Form.History.MemoryBytes();
        }
        if (elapsed / 20 != sync) {
            sync = int(elapsed / 20);
            LiveSync s;
            s.FollowTransport = sync % 3 == 0;
            s.FollowClock = sync % 3 == 1;
            try {
                p.Rig->SetSync(s);
            } catch (const std::exception& e) {
                std::fprintf(stderr, "soak: %s\n", e.what());
            }
            if (!p.Form.Synth.Seq.Playing()) p.Form.Button1Click();
        }
    }
    if (startKiB == 0) startKiB = ResidentKiB(), startHeapKiB = HeapKiB();
    const long endKiB = ResidentKiB(), endHeapKiB = HeapKiB();
    // The undo history grows by design (up to its budget, EditHistory::kMemoryBudget): what
    // it took is told apart from the rest.
    const long historyKiB = long(p.Form.History.MemoryBytes() / 1024) - long(startHistory / 1024);
    p.Form.Button2Click();
    p.Rig->Pump();
    const uint64_t xruns = p.Rig->Output().Xruns();
    const std::string file = folder + "/soak.zvx";
    const std::vector<uint8_t> model = EncodePatternFile(CollectPatternFile(p.Form, p.Envelopes));
    SavePatternFile(p.Form, p.Envelopes, file);
    std::vector<uint8_t> saved(kPatternFileSize);
    std::ifstream(file, std::ios::binary).read(reinterpret_cast<char*>(saved.data()), std::streamsize(saved.size()));
    size_t differ = 0;
    for (size_t i = 0; i < saved.size(); ++i) differ += saved[i] != model[i];
    // The synth the window presents holds the same patterns as its controls say.
    const std::vector<uint8_t> synth = p.Form.Synth.SaveState();
    size_t synthDiffer = 0;
    for (size_t i = 0; i < synth.size(); ++i) synthDiffer += synth[i] != model[i];
    std::printf("rss_start_kib=%ld rss_end_kib=%ld growth_kib=%ld history_growth_kib=%ld "
                "other_growth_kib=%ld heap_start_kib=%ld heap_end_kib=%ld undo_steps=%zu xruns=%llu edits=%ld "
                "controllers=%ld saved_bytes_differing=%zu synth_bytes_differing=%zu\n",
                startKiB, endKiB, endKiB - startKiB, historyKiB, endKiB - startKiB - historyKiB,
                startHeapKiB, endHeapKiB, p.Form.History.UndoCount(),
                static_cast<unsigned long long>(xruns),
                edits, p.Controllers, differ, synthDiffer);
    return differ == 0 && synthDiffer == 0 ? 0 : 1;
}

int RunClient(int seconds, const std::string& port) {
    JackMidiSender sender("zelvox-soak-keys");
    if (!sender.Connect(port)) {
        std::fprintf(stderr, "soak client: cannot connect to %s\n", port.c_str());
        return 1;
    }
    std::mt19937 rng(7);
    const auto start = Clock::now();
    bool running = false;
    // 120 BPM: 24 pulses a beat, one every 20.8 ms; sent in batches of one pulse.
    for (long tick = 0; Clock::now() - start < std::chrono::seconds(seconds); ++tick) {
        std::vector<std::vector<uint8_t>> batch{{0xF8}};
        if (tick % 240 == 0) { // every ten beats: Stop, or Start / Continue
            batch.push_back({uint8_t(running ? 0xFC : (rng() % 2 ? 0xFA : 0xFB))});
            running = !running;
        }
        for (int k = 0; k < 2; ++k)
            batch.push_back({uint8_t(0xB0 | rng() % 16), uint8_t(rng() % 128), uint8_t(rng() % 128)});
        sender.Send(batch);
        std::this_thread::sleep_for(std::chrono::microseconds(20833));
    }
    sender.Send({{0xFC}});
    sender.WaitSent(std::chrono::milliseconds(500));
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (argc == 4 && mode == "player") return RunPlayer(std::atoi(argv[2]), argv[3]);
    if (argc == 4 && mode == "client") return RunClient(std::atoi(argv[2]), argv[3]);
    std::fprintf(stderr, "usage: zelvox_soak player SECONDS FOLDER | client SECONDS PORT\n");
    return 2;
}
