#include "program/HeadlessProgram.h"

namespace zelvox {

struct HeadlessProgram::Sink : RecordingSink {
    WavRecorder& Recorder;
    explicit Sink(WavRecorder& r) : Recorder(r) {}
    void EndRecording() override { Recorder.EndRecording(); }
};

HeadlessProgram::HeadlessProgram()
    : OfflineRender(Synth.Echo, Synth.Eng), Sink_(std::make_unique<Sink>(Recorder_)) {
    Chain.AttachForm(Form);
    Form.SetTransportDevice(&OutputDevice());
    Form.SetRecordingSink(Sink_.get());
    StartUp();
}

HeadlessProgram::~HeadlessProgram() {
    // The form outlives the chain (its base comes first): unhook it before the chain goes.
    Form.SetTransportDevice(nullptr);
    Form.SetRecordingSink(nullptr);
    Form.SetDspSource(nullptr);
    Form.SetReverb(nullptr);
}

void HeadlessProgram::StartPlay(bool arranger) {
    if (arranger) Form.Arranger1Click();
    Form.Button1Click();
}

void HeadlessProgram::StopPlay() { Form.Button2Click(); }

} // namespace zelvox
