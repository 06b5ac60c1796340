// zelvox-render --rate: the mix and the stems at 48 and 96 kHz are the 44.1 kHz render
// converted (against sox's very-high-quality conversion: within -60 dBFS RMS, no delay, the
// exact length, nothing above 22.05 kHz louder than -90 dBFS); what cannot be served is
// refused before anything is written.

#include <gtest/gtest.h>

#include <sys/wait.h>

#include "dsp/FloatSamples.h"
#include "support/RateChecks.h"
#include "support/RendererProgram.h"
#include "support/TempFiles.h"

using namespace zelvox::test;
namespace fs = std::filesystem;

namespace {

int Render(const std::string& args) {
    const std::string cmd = "timeout -k 5 120 " + Quote(RendererPath()) + " " + args + " 2>/dev/null";
    const int status = std::system(cmd.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

TEST(RateRender, FilesAtOtherRatesAreTheRenderConverted) {
    TempDir dir;
    const fs::path ref = dir.path / "ref.wav";
    ASSERT_EQ(Render("--buffers 300 -o " + Quote(ref.string()) + " --stems " +
                     Quote((dir.path / "stems44").string())), 0);
    for (const uint32_t rate : {48000u, 96000u}) {
        const std::string r = std::to_string(rate);
        const fs::path out = dir.path / ("mix" + r + ".wav");
        const fs::path stems = dir.path / ("stems" + r);
        ASSERT_EQ(Render("--buffers 300 --rate " + r + " -o " + Quote(out.string()) +
                         " --stems " + Quote(stems.string())), 0);
        const std::vector<uint8_t> bytes = ReadAll(out);
        EXPECT_EQ(U32(bytes, 24), rate) << "the header's rate";
        const std::vector<int16_t> mix = WavSamples(out);
        ASSERT_TRUE(SoxConvert(ref, dir.path / ("sox" + r + ".wav"), rate));
        const std::vector<int16_t> sox = WavSamples(dir.path / ("sox" + r + ".wav"));
        ASSERT_EQ(mix.size(), 300u * 441u * size_t(rate) / 44100u);
        ASSERT_EQ(sox.size(), mix.size());
        const double rms = RmsDifferenceDb(mix, 0, sox, mix.size());
        std::printf("--rate %u: difference from sox %.1f dBFS RMS\n", rate, rms);
        EXPECT_LT(rms, -60.0);
        if (rate == 96000) {
            EXPECT_LT(LoudestAboveDb(mix, rate, 22050.0), -90.0);
        }
        for (const char* stem : {"bass.wav", "twin-t.wav", "noise.wav", "echo.wav"}) {
            EXPECT_EQ(WavSamples(stems / stem).size(), mix.size()) << stem;
            EXPECT_EQ(U32(ReadAll(stems / stem), 24), rate) << stem;
        }
    }
    // Refused before anything is written: rates outside the range, and a target that is not
    // a file (the conversion needs the finished file).
    for (const char* bad : {"16000", "200000", "48000.5", "fast"})
        EXPECT_EQ(Render(std::string("--rate ") + bad + " -o " + Quote((dir.path / "x.wav").string())), 2) << bad;
    EXPECT_EQ(Render("--rate 48000 -o -"), 1);
    EXPECT_FALSE(fs::exists(dir.path / "x.wav"));
}

// Every 16-bit value, at every offset of the eight-at-a-time pieces, becomes x / 32767 exactly
// as one sample alone does.
TEST(FloatSamples, EverySampleValueScalesAsAlone) {
    std::vector<int16_t> in(65536 + 7);
    for (size_t i = 0; i < in.size(); ++i) in[i] = static_cast<int16_t>(int32_t(i % 65536) - 32768);
    std::vector<float> out(in.size(), -9.0f);
    for (uint32_t offset = 0; offset < 8; ++offset) {
        zelvox::Pcm16ToFloat(in.data() + offset, out.data() + offset, uint32_t(in.size() - offset));
        for (size_t i = offset; i < in.size(); ++i)
            ASSERT_EQ(out[i], static_cast<float>(in[i]) * (1.0f / 32767.0f)) << i << " at offset " << offset;
    }
}
