#include "program/OfflineRender.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <stdexcept>
#include <vector>

#include "engine/Engine.h"
#include "engine/EngineState.h"
#include "files/OutputTarget.h"
#include "program/RateFiles.h"
#include "program/StemFiles.h"
#include "dsp/RateStage.h"

namespace zelvox {

// The transport's device: the offline output end.
struct OfflineRender::Transport : TransportDevice {
    TMMOfflineOut& Out;
    explicit Transport(TMMOfflineOut& out) : Out(out) {}
    void Start() override { Out.Start(); }
    void Stop() override { Out.Stop(); }
};

OfflineRender::OfflineRender(TMMReverb& echo, Engine& engine)
    : Chain(Out, echo), Transport_(std::make_unique<Transport>(Out)), Engine_(engine) {}

OfflineRender::~OfflineRender() { Out.Close(); }

TransportDevice& OfflineRender::OutputDevice() { return *Transport_; }

int64_t OfflineRender::Render(const std::string& outPath, bool arranger, int64_t maxBuffers,
                              const std::function<void(int64_t)>& progress) {
    if (outPath.empty()) throw std::runtime_error("no output file named");
    return Render(Targets{outPath, {}}, arranger, maxBuffers, progress);
}

namespace {

// Points the render loop's and the echo's stem outputs at arrays of one buffer each, and
// switches them off again however the render ends.
class StemTaps {
public:
    StemTaps(Engine& engine, TMMReverb& echo, uint32_t frames)
        : Engine_(engine), Echo_(echo), Frames_(frames) {
        for (auto& b : Buffers_)
            b.assign(frames, 0);
        Engine_.SetStemOutput(Buffers_[StemFiles::Bass].data(), Buffers_[StemFiles::TwinT].data(),
                              Buffers_[StemFiles::Noise].data(), frames);
        Echo_.SetWetOutput(Buffers_[StemFiles::Echo].data(), frames);
    }
    ~StemTaps() {
        Engine_.SetStemOutput(nullptr, nullptr, nullptr, 0);
        Echo_.SetWetOutput(nullptr, 0);
    }
    StemTaps(const StemTaps&) = delete;
    StemTaps& operator=(const StemTaps&) = delete;

    // Before a buffer: the echo writes its wet part only where it processes.
    void Clear() {
        for (auto& b : Buffers_)
            std::fill(b.begin(), b.end(), int16_t(0));
    }
    // After a buffer of `frames` samples was delivered.
    void AppendTo(StemFiles& files, uint32_t frames) const {
        for (int s = 0; s < StemFiles::Count; ++s)
            files.Append(StemFiles::Stem(s), Buffers_[size_t(s)].data(), std::min(frames, Frames_));
    }

private:
    Engine& Engine_;
    TMMReverb& Echo_;
    uint32_t Frames_;
    std::array<std::vector<int16_t>, StemFiles::Count> Buffers_;
};

} // namespace

int64_t OfflineRender::Render(const Targets& to, bool arranger, int64_t maxBuffers,
                              const std::function<void(int64_t)>& progress) {
    namespace fs = std::filesystem;
    if (to.Mix.empty() && to.StemsDir.empty()) throw std::runtime_error("no output file named");
    if (to.Rate != uint32_t(kSampleRate)) {
        std::string why = CheckHostRate(to.Rate);
        if (why.empty()) why = RateTargetProblem(to.Mix, to.StemsDir);
        if (!why.empty()) throw std::runtime_error(why);
    }
    if (!to.Format.Plain()) {
        std::string why = AudioFormatProblem(to.Format);
        if (why.empty()) {
            // Encoding works on finished files, as the rate conversion does.
            auto stream = [](const fs::path& p) {
                std::error_code ec;
                const fs::file_status st = fs::status(p, ec);
                return fs::is_character_file(st) || fs::is_fifo(st) || fs::is_block_file(st);
            };
            const std::string files = std::string(AudioFileKindName(to.Format.Kind)) +
                                      " and 24 bits are encoded from finished files; write to a file, not "
                                      "to a device, a pipe or standard output";
            if (to.Mix == "-" || (!to.Mix.empty() && stream(to.Mix))) why = to.Mix + ": " + files;
            for (const char* base : StemFiles::kBaseNames)
                if (why.empty() && !to.StemsDir.empty() &&
                    stream(fs::path(to.StemsDir) / (base + std::string(AudioFileExtension(to.Format.Kind)))))
                    why = to.StemsDir + ": " + files;
        }
        if (!why.empty()) throw std::runtime_error(why);
    }
    const bool mix = !to.Mix.empty();
    fs::path target, part;
    OutputTarget where;
    if (mix) {
        target = to.Mix == "-" ? fs::path("-") : fs::absolute(fs::path(to.Mix)).lexically_normal();
        if (target.filename().empty()) throw std::runtime_error(to.Mix + ": is a folder");
        std::string why;
        if (!ResolveOutputTarget(target.string(), true, where, why))
            throw std::runtime_error(to.Mix + ": " + why);
        if (!to.StemsDir.empty() && !where.IsStream()) {
            const fs::path dir = fs::absolute(fs::path(to.StemsDir)).lexically_normal();
            for (const char* base : StemFiles::kBaseNames)
                if ((dir / (base + std::string(AudioFileExtension(to.Format.Kind)))).lexically_normal() == target)
                    throw std::runtime_error(to.Mix + ": is also the name of a stem");
        }
        // A file is rendered next to itself under a hidden name and renamed when complete,
        // so a failure never leaves a partial file (or destroys an older one) under the real
        // name; a link's file is the one replaced. A device, a pipe or standard output is
        // written as it comes.
        part = where.IsStream() ? fs::path(where.Path) : PartPathFor(fs::path(where.Path));
    }
    // A loop plays every buffer whole: its length is known, so a stream gets exact sizes.
    // A song may end sooner.
    const int64_t knownBytes =
        arranger ? -1 : maxBuffers * int64_t(std::max(Out.GetBufferSize(), 0));
    TMMWave& mixWave = Chain.MMWaveFile1.Wave();
    mixWave.WaitForReader = true;
    mixWave.StreamDataBytes = knownBytes;
    auto discard = [&] {
        std::error_code ec;
        if (mix && !where.IsStream()) fs::remove(part, ec);
    };
    std::unique_ptr<StemFiles> stems;
    int64_t written = 0;
    try {
        if (mix) Recorder_.Arm(part.string());
        if (!to.StemsDir.empty()) {
            const WAVEFORMATEX* format = Out.GetWaveFormat();
            if (!format) throw std::runtime_error("the chain has no stream format");
            stems = std::make_unique<StemFiles>(to.StemsDir, format, knownBytes,
                                                AudioFileExtension(to.Format.Kind));
        }
        StartPlay(arranger);
        std::unique_ptr<StemTaps> taps;
        if (stems && Out.Playing())
            taps = std::make_unique<StemTaps>(Engine_, Chain.MMReverb1,
                                              uint32_t(std::max(Out.RealBufferSize(), 0) / 2));
        while (written < maxBuffers && Out.Playing()) {
            if (taps) taps->Clear();
            if (!Out.Pull()) break;
            ++written;
            if (mix && !Chain.MMWaveFile1.FileOpened()) {
                // The sink stopped writing (the program would play on); a render has failed.
                const std::string& why = Chain.MMWaveFile1.WriteProblem();
                throw std::runtime_error(to.Mix + ": " + (why.empty() ? "Disk full" : why));
            }
            if (taps) taps->AppendTo(*stems, Out.LastBuffer()->dwBufferLength / 2);
            if (progress) progress(written);
        }
        taps.reset();
        StopPlay();
        Out.Stop();
        if (mix) Recorder_.EndRecording();
        Out.Close();
        if (stems) stems->Finish();
        if (to.Rate != uint32_t(kSampleRate)) {
            if (mix) ConvertWavToRate(part, to.Rate);
            for (int s = 0; stems && s < StemFiles::Count; ++s)
                ConvertWavToRate(stems->PartOf(StemFiles::Stem(s)), to.Rate);
        }
        if (!to.Format.Plain()) {
            if (mix) EncodeWavFile(part, to.Format, to.Mix);
            for (int s = 0; stems && s < StemFiles::Count; ++s)
                EncodeWavFile(stems->PartOf(StemFiles::Stem(s)), to.Format,
                              stems->PathOf(StemFiles::Stem(s)).string());
        }
    } catch (...) {
        try {
            Out.Close();
            if (mix) Recorder_.EndRecording();
        } catch (...) {
        }
        stems.reset(); // removes the stems' hidden files
        discard();
        throw;
    }
    if (mix && !where.IsStream()) {
        std::error_code ec;
        fs::rename(part, fs::path(where.Path), ec);
        if (ec) {
            discard();
            throw std::runtime_error(to.Mix + ": " + ec.message());
        }
    }
    if (stems) stems->Commit();
    return written;
}

} // namespace zelvox
