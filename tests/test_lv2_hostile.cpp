// The LV2 plugin under a hostile host (lilv, tests/support/Lv2Host.h): transport positions
// with NaN, infinite, negative and huge values, speeds of 0, -1 and 1000, tempos of 0 and
// 1e9, a jump every block, blocks of 0 to 16,384 frames, control ports at NaN and beyond
// their ranges, MIDI garbage, state chunks of every size and type, patch:Set with wrong
// types and with folders, devices, a pipe and missing files. Nothing crashes, every sample
// run() leaves is finite and within full scale, run() allocates, locks and calls the system
// for nothing throughout, and once the host behaves the plugin keeps to its steps again.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <dlfcn.h>
#include <filesystem>
#include <limits>
#include <random>
#include <sys/stat.h>
#include <sys/wait.h>

#include "files/PatternFileFormat.h"
#include "fuzz/FuzzLv2Messages.h"
#include "support/Lv2Host.h"
#include "support/RealtimeProbe.h"
#include "support/TempFiles.h"

using namespace zelvox;
using namespace zelvox::test;
namespace fs = std::filesystem;

namespace {

const std::string kUri = "https://zelvox.github.io/lv2/zelvox";
const char* const kPatternFile = "https://zelvox.github.io/lv2/zelvox#patternFile";
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

fs::path BusyFile() {
    const char* d = std::getenv("ZELVOX_TEST_DATA");
    return (d ? fs::path(d) : fs::path("tests/data")).parent_path() / "fuzz" / "corpus" / "pattern" / "busy";
}

// What the hostile host did, for the test's report.
struct Counts {
    size_t Blocks = 0, Frames = 0, Positions = 0, Ports = 0, Midi = 0, Patches = 0, States = 0;
};

// A position with every field the host likes, as doubles and longs (NaN and all).
void SendWildPosition(Lv2Host& host, uint32_t frame, double speed, int64_t bar, double barBeat,
                      double bpm, double beatsPerBar, double beatUnit, int64_t hostFrame) {
    LV2_Atom_Forge& f = host.Forge();
    LV2_Atom_Forge_Frame o;
    lv2_atom_forge_frame_time(&f, frame);
    lv2_atom_forge_object(&f, &o, 0, host.Map(LV2_TIME__Position));
    lv2_atom_forge_key(&f, host.Map(LV2_TIME__speed));
    lv2_atom_forge_double(&f, speed);
    lv2_atom_forge_key(&f, host.Map(LV2_TIME__bar));
    lv2_atom_forge_long(&f, bar);
    lv2_atom_forge_key(&f, host.Map(LV2_TIME__barBeat));
    lv2_atom_forge_double(&f, barBeat);
    lv2_atom_forge_key(&f, host.Map(LV2_TIME__beatsPerBar));
    lv2_atom_forge_double(&f, beatsPerBar);
    lv2_atom_forge_key(&f, host.Map(LV2_TIME__beatUnit));
    lv2_atom_forge_double(&f, beatUnit);
    lv2_atom_forge_key(&f, host.Map(LV2_TIME__beatsPerMinute));
    lv2_atom_forge_double(&f, bpm);
    lv2_atom_forge_key(&f, host.Map(LV2_TIME__frame));
    lv2_atom_forge_long(&f, hostFrame);
    lv2_atom_forge_pop(&f, &o);
}

// patch:Set of the pattern file property (or another) to a value of any type.
void SendPatchSet(Lv2Host& host, const char* property, LV2_URID type, const void* body, uint32_t size) {
    LV2_Atom_Forge& f = host.Forge();
    LV2_Atom_Forge_Frame o;
    lv2_atom_forge_frame_time(&f, 0);
    lv2_atom_forge_object(&f, &o, 0, host.Map(LV2_PATCH__Set));
    lv2_atom_forge_key(&f, host.Map(LV2_PATCH__property));
    lv2_atom_forge_urid(&f, host.Map(property));
    lv2_atom_forge_key(&f, host.Map(LV2_PATCH__value));
    lv2_atom_forge_atom(&f, size, type);
    if (size > 0) lv2_atom_forge_write(&f, body, size);
    lv2_atom_forge_pop(&f, &o);
}

// Every sample of the last block finite and within full scale; the latency finite.
::testing::AssertionResult BlockIsSound(const Lv2Host& host, uint32_t frames) {
    for (size_t c = 0; c < host.OutCount(); ++c)
        for (uint32_t i = 0; i < frames; ++i) {
            const float v = host.Out(c)[i];
            if (!std::isfinite(v) || std::fabs(v) > 1.0f)
                return ::testing::AssertionFailure() << "sample " << v << " at frame " << i;
        }
    const float latency = host.Port("latency");
    if (!std::isfinite(latency) || latency < 0.0f)
        return ::testing::AssertionFailure() << "latency " << latency;
    return ::testing::AssertionSuccess();
}

const char* const kPorts[] = {"volume", "delay", "depth", "steps", "tempo", "pattern", "song",
                              "run", "midi_channel", "step_clock", "edit_mode", "edit_step",
                              "bass_cutoff", "bass_waveform", "noise_colour", "notes_out",
                              "notes_bass_channel", "notes_twint_note"};

// Rounds of hostile blocks. With `patches`, wrong patch:Set messages now and then too (they
// are logged from the audio thread; a file load reaches the worker only with a right type).
void HostileSession(Lv2Host& host, uint32_t seed, int rounds, bool patches, Counts& n) {
    std::mt19937 rng(seed);
    const double speeds[] = {0, -1, 1, 1000, kNaN, kInf, -kInf, 1e300, 1e-300, 0.5, 1e9};
    const double bpms[] = {0, 1e9, 1, -120, kNaN, kInf, 140, 1e-30, 1e300};
    const int64_t bars[] = {0, -1, -1000000, INT64_MAX, INT64_MIN, int64_t(1) << 53, 7};
    const double beats[] = {0, -0.5, kNaN, kInf, -kInf, 1e9, 3.999999, 1e300};
    const double shapes[] = {4, 0, -4, kNaN, kInf, 1e9, 3, 1e-300};
    const float ports[] = {NAN, INFINITY, -INFINITY, 1e30f, -1e30f, 0, 16, 1e6f, -1, 0.5f};
    const uint32_t sizes[] = {0, 1, 2, 3, 5, 64, 127, 441, 1000, 4095, 4096, 8191, 8192, 16384};
    for (int round = 0; round < rounds; ++round) {
        const uint32_t frames = round % 2 ? sizes[rng() % std::size(sizes)] : uint32_t(rng() % 16385);
        // A jump every block, sometimes two, sometimes beyond the block's end.
        for (int k = 0, count = 1 + int(rng() % 2); k < count; ++k, ++n.Positions)
            SendWildPosition(host, uint32_t(rng() % (frames + 100)), speeds[rng() % std::size(speeds)],
                             bars[rng() % std::size(bars)], beats[rng() % std::size(beats)],
                             bpms[rng() % std::size(bpms)], shapes[rng() % std::size(shapes)],
                             shapes[rng() % std::size(shapes)], static_cast<int64_t>(uint64_t(rng()) * uint64_t(rng()) - (uint64_t(1) << 60)));
        for (int k = 0; k < 3; ++k, ++n.Midi) {
            uint8_t bytes[8];
            for (uint8_t& b : bytes) b = uint8_t(rng());
            host.SendAtom(uint32_t(rng() % (frames + 1)), host.Map(LV2_MIDI__MidiEvent), bytes,
                          uint32_t(rng() % 9));
        }
        if (rng() % 2) {
            host.SetPort(kPorts[rng() % std::size(kPorts)], ports[rng() % std::size(ports)]);
            ++n.Ports;
        }
        if (patches && rng() % 4 == 0) {
            const int32_t number = 7;
            const char text[] = "/tmp";
            switch (rng() % 4) {
            case 0: SendPatchSet(host, kPatternFile, host.Map(LV2_ATOM__Int), &number, 4); break;
            case 1: SendPatchSet(host, kPatternFile, host.Map(LV2_ATOM__String), text, sizeof text); break;
            case 2: SendPatchSet(host, kPatternFile, host.Map(LV2_ATOM__Path), text, 0); break;
            case 3: SendPatchSet(host, LV2_TIME__bar, host.Map(LV2_ATOM__Path), text, sizeof text); break;
            }
            ++n.Patches;
        }
        host.Run(frames);
        ++n.Blocks;
        n.Frames += frames;
        ASSERT_TRUE(BlockIsSound(host, frames)) << "round " << round << ", " << frames << " frames";
    }
}

// What a behaving host hears and sees: the samples and the steps (frame from the roll's start,
// step, pattern).
struct Heard {
    std::vector<float> Samples;
    std::vector<std::array<int64_t, 3>> Steps;
    double Rms() const {
        double sum = 0;
        for (float v : Samples) sum += double(v) * v;
        return std::sqrt(sum / double(Samples.size()));
    }
};

// A host that behaves: ports at their defaults, its project (`saved`) loaded again, stopped
// for a second, then rolling from the song's start at 140 BPM for a second. (A sound
// control's port that moves writes its value into the pattern: the project is loaded after
// the ports have settled.)
Heard Behave(Lv2Host& host, const std::vector<float>& defaults, const std::string& saved) {
    for (size_t i = 0; i < std::size(kPorts); ++i) host.SetPort(kPorts[i], defaults[i]);
    host.SendPosition(0, 0.0f, 0, 0.0, 140.0f);
    host.Run(64);
    EXPECT_TRUE(host.RestoreState(saved));
    for (int b = 0; b < 11; ++b) {
        host.SendPosition(0, 0.0f, 0, 0.0, 140.0f);
        host.Run(4096);
    }
    Heard h;
    const uint64_t start = host.Frames();
    host.Steps.clear();
    host.SendPosition(0, 1.0f, 0, 0.0, 140.0f);
    for (int b = 0; b < 30; ++b) {
        host.Run(1470);
        h.Samples.insert(h.Samples.end(), host.Out(), host.Out() + 1470);
    }
    for (const Lv2Host::Step& s : host.Steps)
        h.Steps.push_back({int64_t(s.Frame - start), s.Step, s.Pattern});
    return h;
}

} // namespace

// Hundreds of hostile blocks at 44.1 and 48 kHz, mono and stereo; then the host behaves and
// the plugin plays its steps where a fresh instance with the same patterns plays them.
TEST(Lv2Hostile, SurvivesAnyTransportBlockAndPortAndRecovers) {
    TempDir dir;
    ::setenv("XDG_CONFIG_HOME", dir.path.c_str(), 1); // the controller table: all zeros
    for (const double rate : {44100.0, 48000.0})
        for (const char* uri : {"https://zelvox.github.io/lv2/zelvox",
                                "https://zelvox.github.io/lv2/zelvox-stereo"}) {
            SCOPED_TRACE(std::string(uri) + " at " + std::to_string(rate));
            std::vector<float> defaults;
            Heard reference;
            std::string saved;
            {
                Lv2Host fresh(uri, rate);
                ASSERT_TRUE(fresh.Ok());
                for (const char* p : kPorts) defaults.push_back(fresh.Port(p));
                fresh.SendPath(0, kPatternFile, BusyFile().string());
                fresh.Run(1);
                fresh.Run(1);
                saved = fresh.SaveState();
                reference = Behave(fresh, defaults, saved);
            }
            Lv2Host host(uri, rate);
            ASSERT_TRUE(host.RestoreState(saved));
            Counts n;
            Allocations = 0;
            Locks = 0;
            host.AudioThread = [](bool on) { Counting = on; };
            HostileSession(host, 5, 600, true, n);
            host.AudioThread = [](bool) {};
            EXPECT_EQ(Allocations.load(), 0);
            EXPECT_EQ(Locks.load(), 0);
            EXPECT_GT(host.Log.size(), 0u) << "wrong patch:Set messages are reported";
            std::printf("%s at %.0f Hz: %zu blocks (%zu frames), %zu positions, %zu MIDI, %zu port "
                        "values, %zu patch:Set; %zu log lines\n",
                        uri, rate, n.Blocks, n.Frames, n.Positions, n.Midi, n.Ports, n.Patches,
                        host.Log.size());

            // The host behaves again, and reloads its project (the MIDI turned the knobs): the
            // steps come where and as a fresh instance's do, at the same loudness (the voices'
            // oscillators and filters carry their state over, as after any playing, so the
            // samples themselves differ).
            const Heard after = Behave(host, defaults, saved);
            // At 44.1 kHz on the same frames; at 48 kHz within one frame (the converter's
            // phase after the uneven blocks decides which whole frame is nearest).
            ASSERT_EQ(after.Steps.size(), reference.Steps.size());
            const int64_t slack = rate == 44100.0 ? 0 : 1;
            for (size_t i = 0; i < after.Steps.size(); ++i) {
                EXPECT_EQ(after.Steps[i][1], reference.Steps[i][1]) << "step " << i;
                EXPECT_EQ(after.Steps[i][2], reference.Steps[i][2]) << "step " << i;
                EXPECT_LE(std::abs(after.Steps[i][0] - reference.Steps[i][0]), slack) << "step " << i;
            }
            EXPECT_GE(reference.Steps.size(), 6u);
            EXPECT_NEAR(20 * std::log10(after.Rms() / reference.Rms()), 0.0, 1.0)
                << "RMS " << after.Rms() << " against " << reference.Rms();
        }
    ::unsetenv("XDG_CONFIG_HOME");
}

// The same hostility in a child process that the kernel kills at its first system call.
TEST(Lv2Hostile, HostileBlocksMakeNoSystemCall) {
#if defined(__SANITIZE_ADDRESS__)
    // The sanitizer's allocator maps fresh memory for the test host's own bookkeeping (a
    // system call the plugin did not make); the plugin's run() under the filter is checked
    // in this build by Lv2Plugin.RunAllocatesNothingTakesNoLockAndMakesNoSystemCall.
    GTEST_SKIP() << "the address sanitizer's runtime makes system calls of its own";
#endif
    TempDir dir;
    ::setenv("XDG_CONFIG_HOME", dir.path.c_str(), 1);
    for (const double rate : {44100.0, 48000.0}) {
        Lv2Host host(kUri, rate);
        ASSERT_TRUE(host.Ok());
        host.Run(64);
        host.Steps.reserve(1000000); // the host's own bookkeeping, set aside
        host.Notes.reserve(1000000);
        Counts n;
        const int status = UnderNoSyscallFilter([&] {
            HostileSession(host, 9, 300, false, n);
            if (::testing::Test::HasFailure()) syscall(SYS_exit, 3);
        });
        if (WIFEXITED(status) && WEXITSTATUS(status) == 77) GTEST_SKIP() << "no seccomp here";
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
            << rate << " Hz: a block made a system call or failed (status " << status << ")";
    }
    ::unsetenv("XDG_CONFIG_HOME");
}

// State chunks of every size and type, and patch:Set to what is not a pattern file: each is
// refused and reported, the patterns stay as they were, and nothing waits on a pipe.
TEST(Lv2Hostile, BadStatesAndFilesChangeNothing) {
    TempDir dir;
    Lv2Host host(kUri);
    ASSERT_TRUE(host.Ok());
    host.SendPath(0, kPatternFile, BusyFile().string());
    host.Run(1);
    host.Run(1);
    const std::vector<uint8_t> before = host.StateBytes();
    ASSERT_EQ(before.size(), kPatternFileSize);
    const LV2_URID patterns = host.Map(lv2::kPatternsUri), chunk = host.Map(LV2_ATOM__Chunk);

    size_t states = 0;
    for (const size_t size : {size_t(0), size_t(1), size_t(100), kPatternFileSize - 1,
                              kPatternFileSize + 1, size_t(1) << 20}) {
        const std::vector<uint8_t> bytes(size, 0x5A);
        EXPECT_EQ(host.RestoreChunk(patterns, chunk, &bytes), LV2_STATE_ERR_BAD_TYPE) << size;
        ++states;
    }
    const std::vector<uint8_t> exact(kPatternFileSize, 0xA5);
    for (const char* type : {LV2_ATOM__Int, LV2_ATOM__String, LV2_ATOM__Path, LV2_ATOM__URID,
                             "urn:zelvox:test:nothing"}) {
        EXPECT_EQ(host.RestoreChunk(patterns, host.Map(type), &exact), LV2_STATE_ERR_BAD_TYPE) << type;
        ++states;
    }
    EXPECT_EQ(host.RestoreChunk(patterns, chunk, nullptr), LV2_STATE_SUCCESS) << "nothing saved";
    EXPECT_EQ(host.RestoreChunk(host.Map("urn:zelvox:test:other"), chunk, &exact), LV2_STATE_SUCCESS);
    states += 2;
    EXPECT_EQ(host.StateBytes(), before);

    // Files that are not pattern files, and names that are not names.
    const fs::path fifo = dir.path / "pipe.zvx";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const fs::path shortFile = dir.path / "short.zvx";
    WriteAll(shortFile, std::vector<uint8_t>(before.begin(), before.begin() + 1000));
    size_t patches = 0;
    for (const fs::path& bad : {dir.path, fs::path("/dev/zero"), fs::path("/dev/null"), fifo,
                                dir.path / "missing.zvx", shortFile}) {
        host.Log.clear();
        host.SendPath(0, kPatternFile, bad.string());
        host.Run(64);
        host.Run(64);
        ++patches;
        EXPECT_EQ(host.StateBytes(), before) << bad;
        ASSERT_EQ(host.Log.size(), 1u) << bad;
        EXPECT_NE(host.Log[0].find(bad.string()), std::string::npos) << host.Log[0];
    }
    const std::string name = BusyFile().string();
    const int32_t number = 1;
    host.Log.clear();
    SendPatchSet(host, kPatternFile, host.Map(LV2_ATOM__Int), &number, 4);
    SendPatchSet(host, kPatternFile, host.Map(LV2_ATOM__String), name.c_str(), uint32_t(name.size() + 1));
    SendPatchSet(host, kPatternFile, host.Map(LV2_ATOM__Path), name.c_str(), 0);
    host.Run(64);
    host.Run(64);
    patches += 3;
    EXPECT_EQ(host.Log.size(), 3u) << "each wrong type reported";
    EXPECT_EQ(host.StateBytes(), before);
    // Controller tables that are not 31 atom:Int are refused and reported: CC 74 stays nobody's.
    struct {
        uint32_t ChildSize, ChildType;
        int32_t Slots[31];
    } table{4, host.Map(LV2_ATOM__Int), {}};
    std::fill(std::begin(table.Slots), std::end(table.Slots), 74);
    const LV2_URID vector = host.Map(LV2_ATOM__Vector);
    host.Log.clear();
    SendPatchSet(host, lv2::kControllersUri, vector, &table, sizeof table - 4); // 30 slots
    table.ChildType = host.Map(LV2_ATOM__Float);
    SendPatchSet(host, lv2::kControllersUri, vector, &table, sizeof table);
    SendPatchSet(host, lv2::kControllersUri, host.Map(LV2_ATOM__Int), &number, 4);
    host.SendMidi(1, 0xB0, 74, 127);
    host.Run(64);
    host.Run(64);
    patches += 3;
    EXPECT_EQ(host.Log.size(), 3u) << "each bad table reported";
    EXPECT_EQ(host.StateBytes(), before);
    // A path without its terminating zero is still the path.
    host.PathsReported.clear();
    SendPatchSet(host, kPatternFile, host.Map(LV2_ATOM__Path), name.c_str(), uint32_t(name.size()));
    host.Run(64);
    host.Run(64);
    ++patches;
    EXPECT_NE(std::find(host.PathsReported.begin(), host.PathsReported.end(), name),
              host.PathsReported.end());

    // Objects whose property claims more than the object holds (up to nearly 4 GiB, which
    // once made LV2's walk over the properties stand still) are left out; run() returns.
    size_t objects = 0;
    for (const char* otype : {LV2_PATCH__Set, LV2_TIME__Position})
        for (const uint32_t claimed : {uint32_t(9), uint32_t(0xFFFFFFF0u), uint32_t(0xFFFFFFFFu)}) {
            struct {
                LV2_Atom_Object Object;
                LV2_Atom_Property_Body Property;
                uint8_t Value[8];
            } bad{};
            bad.Object.atom = {uint32_t(sizeof bad - sizeof(LV2_Atom)), host.Map(LV2_ATOM__Object)};
            bad.Object.body.otype = host.Map(otype);
            bad.Property.key = host.Map(LV2_PATCH__value);
            bad.Property.value = {claimed, chunk};
            host.SendAtom(0, &bad.Object.atom);
            host.Run(64);
            ++objects;
        }
    EXPECT_EQ(host.StateBytes(), before);

    // Any bytes of the right size and type are patterns: taken, and played within range.
    std::mt19937 rng(3);
    std::vector<uint8_t> noise(kPatternFileSize);
    for (int k = 0; k < 20; ++k, ++states) {
        for (uint8_t& b : noise) b = uint8_t(rng());
        ASSERT_EQ(host.RestoreChunk(patterns, chunk, &noise), LV2_STATE_SUCCESS);
        host.SendPosition(0, 1.0f, 0, 0.0, 140.0f);
        host.Run(4096);
        ASSERT_TRUE(BlockIsSound(host, 4096)) << "random state " << k;
        EXPECT_EQ(host.StateBytes().size(), kPatternFileSize);
    }
    std::printf("%zu state chunks, %zu patch:Set messages, %zu broken objects\n", states, patches,
                objects);
}

// The inputs kept for the plugin's fuzz target, replayed through the built plugin.
TEST(Lv2Hostile, FuzzInputsReplayCleanly) {
    TempDir dir;
    ::setenv("XDG_CONFIG_HOME", dir.path.c_str(), 1);
    void* so = ::dlopen((Lv2BundleDir() + "/zelvox.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(so, nullptr) << ::dlerror();
    const auto descriptor = reinterpret_cast<fuzz::Lv2DescriptorFn>(::dlsym(so, "lv2_descriptor"));
    ASSERT_NE(descriptor, nullptr);
    fuzz::FuzzFailuresThrow() = true;
    const char* d = std::getenv("ZELVOX_TEST_DATA");
    const fs::path data = d ? fs::path(d) : fs::path("tests/data");
    size_t n = 0;
    for (const fs::path& folder : {data.parent_path() / "fuzz" / "corpus" / "lv2_messages",
                                   data / "regress" / "lv2_messages"}) {
        if (!fs::is_directory(folder)) continue;
        for (const auto& entry : fs::directory_iterator(folder)) {
            const std::vector<uint8_t> bytes = ReadAll(entry.path());
            EXPECT_NO_THROW(fuzz::Lv2MessagesOne(descriptor, bytes.data(), bytes.size())) << entry.path();
            ++n;
        }
    }
    EXPECT_GE(n, 5u);
    ::dlclose(so);
    ::unsetenv("XDG_CONFIG_HOME");
}
