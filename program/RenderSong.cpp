#include "program/RenderSong.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <random>
#include <stdexcept>


namespace zelvox {

// The transport buttons drive the offline output end.
struct HeadlessProgram::Transport : TransportDevice {
    TMMOfflineOut& Out;
    explicit Transport(TMMOfflineOut& out) : Out(out) {}
    void Start() override { Out.Start(); }
    void Stop() override { Out.Stop(); }
};

struct HeadlessProgram::Sink : RecordingSink {
    WavRecorder& Recorder;
    explicit Sink(WavRecorder& r) : Recorder(r) {}
    void EndRecording() override { Recorder.EndRecording(); }
};

HeadlessProgram::HeadlessProgram()
    : Transport_(std::make_unique<Transport>(Out)), Sink_(std::make_unique<Sink>(Recorder_)) {
    Chain.AttachForm(Form);
    Form.SetTransportDevice(Transport_.get());
    Form.SetRecordingSink(Sink_.get());
    StartUp();
}

HeadlessProgram::~HeadlessProgram() {
    // The form outlives the chain here (it is declared first): unhook it before the chain goes.
    Form.SetTransportDevice(nullptr);
    Form.SetRecordingSink(nullptr);
    Form.SetDspSource(nullptr);
    Form.SetReverb(nullptr);
    Out.Close();
}

int64_t HeadlessProgram::Render(const std::string& outPath, bool arranger, int64_t maxBuffers,
                                const std::function<void(int64_t)>& progress) {
    namespace fs = std::filesystem;
    if (outPath.empty()) throw std::runtime_error("no output file named");
    const fs::path target = fs::absolute(fs::path(outPath));
    if (target.filename().empty() || fs::is_directory(target))
        throw std::runtime_error(outPath + ": is a folder");
    // Render next to the target under a hidden name, and rename it when complete, so a
    // failure never leaves a partial file (or destroys an older one) under the real name.
    std::random_device rd;
    // Built by appending: GCC 12 at -O3 misreports "." + std::string&& as an overlapping
    // memcpy (-Wrestrict).
    std::string partName = ".";
    partName += target.filename().string();
    partName += ".part";
    partName += std::to_string(rd() % 1000000);
    const fs::path part = target.parent_path() / partName;
    auto discard = [&] {
        std::error_code ec;
        fs::remove(part, ec);
    };
    int64_t written = 0;
    try {
        Recorder_.Arm(part.string());
        if (arranger) Form.Arranger1Click();
        Form.Button1Click();
        while (written < maxBuffers && Out.Playing()) {
            if (!Out.Pull()) break;
            ++written;
            if (!Chain.MMWaveFile1.FileOpened()) {
                // The sink stopped writing (the program would play on); a render has failed.
                const std::string& why = Chain.MMWaveFile1.WriteProblem();
                throw std::runtime_error(outPath + ": " + (why.empty() ? "Disk full" : why));
            }
            if (progress) progress(written);
        }
        Form.Button2Click();
        Out.Stop();
        Recorder_.EndRecording();
        Out.Close();
    } catch (...) {
        try {
            Out.Close();
            Recorder_.EndRecording();
        } catch (...) {
        }
        discard();
        throw;
    }
    std::error_code ec;
    fs::rename(part, target, ec);
    if (ec) {
        discard();
        throw std::runtime_error(outPath + ": " + ec.message());
    }
    return written;
}

} // namespace zelvox
