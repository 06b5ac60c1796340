// Two plugin instances in one host, one playing on a thread of its own while the other loads
// a file with other envelope contours: each sounds as its own file rendered alone. (The race
// detector runs it too: the instances share no table.)

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <filesystem>
#include <thread>

#include "files/PatternFileFormat.h"
#include "program/PatternFileCommands.h"
#include "program/HeadlessProgram.h"
#include "plugin/Ports.h"
#include "support/Lv2Host.h"
#include "support/RateChecks.h"
#include "support/TempFiles.h"

using namespace zelvox;
using namespace zelvox::test;
namespace fs = std::filesystem;

namespace {

using lv2::kUri;
const char* const kPatternFile = lv2::kPatternFileUri;
constexpr size_t kBlocks = 120, kBlock = 441;

// Every voice on the start-up patterns, with the given contours.
void WriteFile(const fs::path& path, std::array<int32_t, 4> contours) {
    HeadlessProgram p;
    for (int s = 1; s <= 16; ++s) {
        StepRecord& r = p.Form.Store.Step(1, s);
        r.BassPlay = 1;
        r.BassAttack = 40;
        r.BassDecay = 60;
        r.TwinTPlay = s % 4 == 1;
        r.NoisePlay = s % 2 == 0;
    }
    for (int c = 0; c < kContourCount; ++c)
        p.Envelopes.ControlFor(ControlId(int(ControlId::BassAttackContour) + c))->SetValue(contours[size_t(c)]);
    SavePatternFile(p.Form, p.Envelopes, path);
}

std::vector<int16_t> Reference(const fs::path& file, const fs::path& wav) {
    HeadlessProgram p;
    p.Load(file);
    p.Render(wav, false, kBlocks);
    return WavSamples(wav);
}

std::vector<int16_t> Play(Lv2Host& host) {
    std::vector<int16_t> out;
    for (size_t b = 0; b < kBlocks; ++b) {
        if (b == 0) host.SendPosition(0, 1.0f, 0, 0.0, 140.0f);
        host.Run(kBlock);
        for (uint32_t i = 0; i < kBlock; ++i) out.push_back(int16_t(std::lround(host.Out()[i] * 32767.0f)));
    }
    return out;
}

void Load(Lv2Host& host, const fs::path& file) {
    host.SendPath(0, kPatternFile, file.string());
    host.Run(1); // the worker reads it after this block, the plugin takes it before the next
    host.Run(1);
}

} // namespace

TEST(Lv2Instances, EachKeepsItsOwnEnvelopeContours) {
    TempDir dir;
    WriteFile(dir / "a.zvx", {2, 38, 5, 33});
    WriteFile(dir / "b.zvx", {35, 4, 30, 8});
    const std::vector<int16_t> refA = Reference(dir / "a.zvx", dir / "a.wav");
    const std::vector<int16_t> refB = Reference(dir / "b.zvx", dir / "b.wav");
    ASSERT_NE(refA, refB);

    Lv2Host a(kUri), b(kUri);
    ASSERT_TRUE(a.Ok() && b.Ok());
    for (Lv2Host* h : {&a, &b}) h->SetPort("step_clock", 1.0f);
    Load(b, dir / "b.zvx");
    std::vector<int16_t> outB;
    std::thread other([&] { outB = Play(b); });
    Load(a, dir / "a.zvx"); // its contours are built while b plays
    const std::vector<int16_t> outA = Play(a);
    other.join();
    EXPECT_EQ(outA, refA);
    EXPECT_EQ(outB, refB);
}
