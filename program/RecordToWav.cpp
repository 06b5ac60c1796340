#include "program/RecordToWav.h"

#include "audio/MMWaveFile.h"

namespace zelvox {

void WavRecorder::CloseDevice() {
    Device_.Closed();
}

void WavRecorder::NameFile(const std::string& fileName) {
    Sink_.Wave().SetFileName(fileName);
}

void WavRecorder::OpenDevice() {
    try {
        Device_.Opened();
    } catch (...) {
        // As the device does: it closes itself again and passes the error on.
        try {
            Device_.Closed();
        } catch (...) {
        }
        throw;
    }
}

void WavRecorder::Enable() {
    Sink_.SetEnabled(true);
}

void WavRecorder::EndRecording() {
    Sink_.SetEnabled(false);
    Sink_.Wave().SetFileName("");
}

} // namespace zelvox
