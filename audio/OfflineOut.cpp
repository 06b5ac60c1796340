#include "audio/OfflineOut.h"

namespace zelvox {

TMMOfflineOut::TMMOfflineOut() {
    SetBufferSize(882);
}

TMMOfflineOut::~TMMOfflineOut() {
    Close();
    LeaveChain();
}

void TMMOfflineOut::Open() {
    if (Open_) return;
    Open_ = true;
    try {
        TMMCustomSoundComponent::Opened();
        Hdr_ = AllocWaveHdr(uint32_t(RealBufferSize() > 0 ? RealBufferSize() : 0));
    } catch (...) {
        // A member of the chain could not open (the WAV sink could not create its file):
        // close again and pass the error on, as a device does.
        Close();
        throw;
    }
}

void TMMOfflineOut::Close() {
    if (!Open_) return;
    Stop();
    Open_ = false;
    TMMCustomSoundComponent::Closed();
    Hdr_.reset();
}

void TMMOfflineOut::Start() {
    Open();
    if (Playing_) return;
    Playing_ = true;
    StopDeferred_ = false;
    TMMCustomSoundComponent::Started();
}

void TMMOfflineOut::Stop() {
    if (!Playing_) return;
    if (InLoad_) {
        StopDeferred_ = true;
        return;
    }
    FinishStop();
}

void TMMOfflineOut::FinishStop() {
    Playing_ = false;
    StopDeferred_ = false;
    TMMCustomSoundComponent::Stopped();
}

bool TMMOfflineOut::Pull() {
    if (!Playing_ || !Hdr_) return false;
    TMMWaveHdr* h = Hdr_.get();
    h->dwBufferLength = uint32_t(RealBufferSize());
    h->dwBytesRecorded = 0;
    bool more = false;
    InLoad_ = true;
    try {
        BufferLoad(h, more);
    } catch (...) {
        InLoad_ = false;
        throw;
    }
    InLoad_ = false;
    if (h->dwBytesRecorded > h->dwBufferLength) h->dwBytesRecorded = h->dwBufferLength;
    h->dwBufferLength = h->dwBytesRecorded; // what was produced is what is "played"
    const bool produced = h->dwBytesRecorded > 0;
    if (produced) {
        h->NextHdr = h;
        DeliverBufferReady(h);
        ++Delivered_;
    }
    if (!produced || !more || StopDeferred_) FinishStop();
    return produced;
}

} // namespace zelvox
