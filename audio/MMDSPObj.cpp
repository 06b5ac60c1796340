#include "audio/MMDSPObj.h"

#include <algorithm>
#include <vector>

namespace zelvox {

namespace {

// Every live component, for the link bookkeeping. Main thread only, like the chain itself.
std::vector<TMMDSPComponent*>& Components() {
    static std::vector<TMMDSPComponent*> list;
    return list;
}

// Walks follow links; links are acyclic by construction (CanConnectInput/Output), but
// LinkInput/LinkOutput are raw. A walk never takes more steps than there are components.
size_t WalkLimit() {
    return Components().size() + 1;
}

} // namespace

// ---------------------------------------------------------------- TMMDSPComponent

TMMDSPComponent::TMMDSPComponent() {
    Components().push_back(this);
}

TMMDSPComponent::~TMMDSPComponent() {
    LeaveChain();
}

int TMMDSPComponent::LiveComponents() {
    return int(Components().size());
}

void TMMDSPComponent::LeaveChain() {
    if (LeftChain_) return;
    Destroying_ = true;
    SetInput(nullptr);
    SetOutput(nullptr);
    SetWaveFormat(nullptr);
    auto& list = Components();
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
    LeftChain_ = true;
}

void TMMDSPComponent::Broadcast(TMMDSPComponent* Source, bool InputSide) {
    // ConnectionChanging only touches links, never the list, so a plain walk is safe.
    for (TMMDSPComponent* c : Components())
        c->ConnectionChanging(Source, InputSide);
}

void TMMDSPComponent::UpdateFormat() {
    if (Loading_ || Destroying_) return;
    if (Input_)
        WaveFormatChanged(Input_->GetWaveFormat());
    else if (Output_)
        Output_->WaveFormatChanged(GetWaveFormat());
}

void TMMDSPComponent::ConnectionChanging(TMMDSPComponent* Source, bool InputSide) {
    if (!Source) return;
    if (InputSide) {
        if (Source == Input_ && Source->Output() == this) LinkInput(nullptr);
    } else {
        if (Source == Output_ && Source->Input() == this) LinkOutput(nullptr);
    }
}

void TMMDSPComponent::SetInput(TMMDSPComponent* X) {
    if (X == Input_ || (X && !CanConnectInput(X))) return;
    Stopped();
    if (Input_) {
        Broadcast(this, false); // the old Input drops its Output link
        LinkInput(nullptr);
        WaveFormatChanged(nullptr); // this and everything downstream forget the format
    }
    if (X) {
        Broadcast(X, true); // whoever was X's Output drops its Input link
        LinkInput(X);
        X->LinkOutput(this);
        UpdateFormat();
    }
}

void TMMDSPComponent::SetOutput(TMMDSPComponent* X) {
    if (X == Output_ || (X && !CanConnectOutput(X))) return;
    Stopped();
    if (TMMDSPComponent* Y = Output_) {
        Broadcast(this, true); // the old Output drops its Input link
        Y->WaveFormatChanged(nullptr);
        LinkOutput(nullptr);
    }
    if (X) {
        Broadcast(X, false); // whoever was X's Input drops its Output link
        LinkOutput(X);
        X->LinkInput(this);
        UpdateFormat();
    }
}

void TMMDSPComponent::WaveFormatChanged(PWaveFormatEx Format) {
    SetWaveFormat(Format);
}

void TMMDSPComponent::SetWaveFormat(PWaveFormatEx Format) {
    if (Format != WaveFormat_.get()) {
        if (IsStarted_) Stopped();
        WaveFormat_ = CopyWaveFormat(Format);
    }
    if (!Loading_ && !Destroying_ && Output_) Output_->WaveFormatChanged(WaveFormat_.get());
}

void TMMDSPComponent::Loaded() {
    Loading_ = false;
    SetWaveFormat(GetWaveFormat());
}

int32_t TMMDSPComponent::GetBufferSize() const {
    return IsOpened_ ? RealBufferSize_ : BufferSize_;
}

void TMMDSPComponent::SetBufferSize(int32_t Value) {
    if (Value == BufferSize_) return;
    if (IsStarted_) Stopped();
    BufferSize_ = Value;
}

void TMMDSPComponent::Opened() {
    if (IsOpened_) return;
    const WAVEFORMATEX* f = WaveFormat_.get();
    if (f && f->nBlockAlign > 0) {
        // Whole frames only, and at least one.
        RealBufferSize_ =
            std::max<int32_t>(BufferSize_ - BufferSize_ % f->nBlockAlign, f->nBlockAlign);
    } else {
        RealBufferSize_ = BufferSize_;
    }
    IsOpened_ = true;
}

void TMMDSPComponent::Closed() {
    IsOpened_ = false;
}

void TMMDSPComponent::Started() {
    if (IsOpened_ && !IsStarted_) IsStarted_ = true;
}

void TMMDSPComponent::Paused() {}
void TMMDSPComponent::Restarted() {}
void TMMDSPComponent::Stopped() {
    IsStarted_ = false;
}
void TMMDSPComponent::Flushed() {}

void TMMDSPComponent::BufferReady(PWaveHdr lpWaveHdr) {
    if (OnBufferReady) OnBufferReady(this, lpWaveHdr);
    if (Output_) Output_->BufferReady(lpWaveHdr);
}

void TMMDSPComponent::BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers) {
    if (OnBufferLoad) OnBufferLoad(this, lpWaveHdr, MoreBuffers);
    if (Input_) Input_->BufferLoad(lpWaveHdr, MoreBuffers);
    if (lpWaveHdr->dwBytesRecorded > 0 && OnBufferFilled) OnBufferFilled(this, lpWaveHdr);
}

bool TMMDSPComponent::CanConnectInput(TMMDSPComponent* X) const {
    if (!X || X == this) return false;
    if (!Output_) return true;
    return Output_->CanConnectInput(X);
}

bool TMMDSPComponent::CanConnectOutput(TMMDSPComponent* X) const {
    if (!X || X == this) return false;
    if (!Input_) return true;
    return Input_->CanConnectOutput(X);
}

// ---------------------------------------------------------------- TMMDSPInterface

void TMMDSPInterface::Opened() {
    if (IsOpened()) return;
    TMMDSPComponent::Opened();
    if (OnOpen) OnOpen(this);
}

void TMMDSPInterface::Closed() {
    if (!IsOpened()) return;
    TMMDSPComponent::Closed();
    if (OnClose) OnClose(this);
}

void TMMDSPInterface::Started() {
    if (!IsOpened() || IsStarted()) return;
    TMMDSPComponent::Started();
    if (OnStart) OnStart(this);
}

void TMMDSPInterface::Paused() {
    TMMDSPComponent::Paused();
    if (OnPause) OnPause(this);
}

void TMMDSPInterface::Restarted() {
    TMMDSPComponent::Restarted();
    if (OnRestart) OnRestart(this);
}

void TMMDSPInterface::Stopped() {
    if (!IsStarted()) return;
    TMMDSPComponent::Stopped();
    if (OnStop) OnStop(this);
}

// ---------------------------------------------------------------- TMMCustomSoundComponent

TMMCustomSoundComponent::TMMCustomSoundComponent() {
    MarkSoundComponent();
}

TMMCustomSoundComponent::~TMMCustomSoundComponent() {
    LeaveChain();
}

TMMDSPComponent* TMMCustomSoundComponent::Head(bool* fedBySound) const {
    const TMMDSPComponent* c = this;
    for (size_t n = WalkLimit(); c->Input() && n > 0; --n) {
        c = c->Input();
        if (c->IsSoundComponent() && c != this) {
            if (fedBySound) *fedBySound = true;
            return const_cast<TMMCustomSoundComponent*>(this);
        }
    }
    return const_cast<TMMDSPComponent*>(c);
}

void TMMCustomSoundComponent::Opened() {
    FedBySound_ = false;
    TMMDSPComponent* c = Head(&FedBySound_);
    const int32_t size = GetBufferSize(); // not yet opened: the configured size
    for (size_t n = WalkLimit(); c && n > 0; c = c->Output(), --n) {
        if (c == this) continue;
        c->SetBufferSize(size);
        c->Opened();
        if (c->IsSoundComponent()) break;
    }
    TMMDSPComponent::Opened();
}

void TMMCustomSoundComponent::WalkForward(Walk w) {
    TMMDSPComponent* c = Head(nullptr);
    for (size_t n = WalkLimit(); c && n > 0; c = c->Output(), --n) {
        if (c == this) continue;
        switch (w) {
        case Walk::Started:
            c->Started();
            break;
        case Walk::Paused:
            c->Paused();
            break;
        case Walk::Restarted:
            c->Restarted();
            break;
        case Walk::Flushed:
            c->Flushed();
            break;
        }
        if (c->IsSoundComponent()) break;
    }
}

void TMMCustomSoundComponent::Started() {
    WalkForward(Walk::Started);
    TMMDSPComponent::Started();
}

void TMMCustomSoundComponent::Paused() {
    WalkForward(Walk::Paused);
    TMMDSPComponent::Paused();
}

void TMMCustomSoundComponent::Restarted() {
    WalkForward(Walk::Restarted);
    TMMDSPComponent::Restarted();
}

void TMMCustomSoundComponent::Flushed() {
    WalkForward(Walk::Flushed);
    TMMDSPComponent::Flushed();
}

void TMMCustomSoundComponent::Closed() {
    size_t n = WalkLimit();
    for (TMMDSPComponent* d = Output(); d && n > 0; d = d->Output(), --n) {
        if (d->IsSoundComponent()) {
            d->Closed();
            break;
        }
    }
    n = WalkLimit();
    for (TMMDSPComponent* c = Head(nullptr); c && n > 0; c = c->Output(), --n) {
        if (c == this) continue;
        if (c->IsSoundComponent()) break;
        c->Closed();
    }
    TMMDSPComponent::Closed();
}

void TMMCustomSoundComponent::Stopped() {
    size_t n = WalkLimit();
    for (TMMDSPComponent* d = Output(); d && n > 0; d = d->Output(), --n) {
        if (d->IsSoundComponent()) {
            d->Stopped();
            break;
        }
    }
    n = WalkLimit();
    for (TMMDSPComponent* c = Head(nullptr); c && n > 0; c = c->Output(), --n) {
        if (c == this) continue;
        if (c->IsSoundComponent()) break;
        c->Stopped();
    }
    TMMDSPComponent::Stopped();
}

void TMMCustomSoundComponent::BufferReady(PWaveHdr) {}

} // namespace zelvox
