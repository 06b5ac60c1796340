#pragma once
// The audio component chain. Components are joined by Input/Output links that are always
// symmetric (A.Output() == B exactly when B.Input() == A). The chain is pulled: the sound
// component that drives it asks its Input for every buffer (BufferLoad), each component asks
// its own Input, and the head fills the buffer in its OnBufferLoad event; effects then work
// on the buffer in place on the way back. Played buffers travel downstream (BufferReady).
// The links also carry the stream format downstream and the life-cycle notifications
// (Opened, Started, Paused, Restarted, Flushed, Stopped, Closed) from the driver to the rest
// of the chain.
//
// Everything here runs on the thread that drives the chain (the main thread in the program);
// there are no locks. Calls are per buffer, never per sample.

#include <cstdint>
#include <functional>
#include <memory>

#include "files/MMFormat.h"
#include "audio/MMWaveHdr.h"

namespace zelvox {

// Base of everything that raises events: the Sender of an event.
class TObject {
public:
    virtual ~TObject() = default;
};

// Event slots: an empty slot is skipped.
using TNotifyEvent = std::function<void(TObject* Sender)>;
using TMMBufferEvent = std::function<void(TObject* Sender, PWaveHdr lpWaveHdr)>;
using TMMBufferLoadEvent =
    std::function<void(TObject* Sender, PWaveHdr lpWaveHdr, bool& MoreBuffers)>;

class TMMDSPComponent : public TObject {
public:
    TMMDSPComponent();
    // Clears both links (the neighbours drop theirs, everything downstream forgets the
    // format), drops the format and leaves the process-wide list.
    ~TMMDSPComponent() override;
    TMMDSPComponent(const TMMDSPComponent&) = delete;
    TMMDSPComponent& operator=(const TMMDSPComponent&) = delete;

    // 1. Pulls the format from Input, or else pushes this component's own to Output.
    virtual void UpdateFormat();
    // 2. Link bookkeeping, sent to every live component whenever a link changes.
    virtual void ConnectionChanging(TMMDSPComponent* Source, bool InputSide);
    // 3-6. Links. Setting a link to itself, to a component that would close a cycle, or to
    // the current neighbour does nothing.
    virtual void SetInput(TMMDSPComponent* X);
    virtual TMMDSPComponent* Input() const { return Input_; }
    virtual void SetOutput(TMMDSPComponent* X);
    virtual TMMDSPComponent* Output() const { return Output_; }
    // 7. A neighbour reports a format (nullptr: none).
    virtual void WaveFormatChanged(PWaveFormatEx Format);
    // 8, 9. Holds a copy of the format and passes it downstream.
    virtual void SetWaveFormat(PWaveFormatEx Format);
    virtual PWaveFormatEx GetWaveFormat() const { return WaveFormat_.get(); }
    // 10, 11. Bytes per buffer: RealBufferSize while opened, else the configured size.
    virtual int32_t GetBufferSize() const;
    virtual void SetBufferSize(int32_t Value);
    // 12-18. Life cycle.
    virtual void Opened();
    virtual void Closed();
    virtual void Started();
    virtual void Paused();
    virtual void Restarted();
    virtual void Stopped();
    virtual void Flushed();
    // 19. A played buffer: OnBufferReady, then Output.BufferReady.
    virtual void BufferReady(PWaveHdr lpWaveHdr);
    // 20. Pull one buffer: OnBufferLoad, then Input.BufferLoad, then OnBufferFilled when the
    // load produced bytes.
    virtual void BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers);
    // 21, 22. Set one side of a link alone, without notifications.
    virtual void LinkInput(TMMDSPComponent* C) { Input_ = C; }
    virtual void LinkOutput(TMMDSPComponent* C) { Output_ = C; }
    // 23, 24. Whether X may become Input (Output) without closing a cycle.
    virtual bool CanConnectInput(TMMDSPComponent* X) const;
    virtual bool CanConnectOutput(TMMDSPComponent* X) const;

    int32_t RealBufferSize() const { return RealBufferSize_; }
    bool IsOpened() const { return IsOpened_; }
    bool IsStarted() const { return IsStarted_; }
    bool IsSoundComponent() const { return IsSound_; }

    // Component set-up from a stored form: while loading, formats are held but not passed
    // on; Loaded() then passes the held format downstream once. The program wires its chain
    // in code and does not need this.
    void BeginLoading() { Loading_ = true; }
    void Loaded();
    bool IsLoading() const { return Loading_; }
    bool IsDestroying() const { return Destroying_; }

    TMMBufferEvent OnBufferReady;
    TMMBufferLoadEvent OnBufferLoad;
    TMMBufferEvent OnBufferFilled;

    // Number of live components (the process-wide list).
    static int LiveComponents();

protected:
    // For the destructors of derived classes that must leave the chain while they are still
    // themselves (so the neighbours' notifications reach the derived overrides). Idempotent.
    void LeaveChain();
    void MarkSoundComponent() { IsSound_ = true; }
    void SetRealBufferSize(int32_t v) { RealBufferSize_ = v; }

    // The configured size as stored (BufferSize reads RealBufferSize while opened).
    int32_t ConfiguredBufferSize() const { return BufferSize_; }

private:
    void Broadcast(TMMDSPComponent* Source, bool InputSide);

    TMMDSPComponent* Input_ = nullptr;  // not owned
    TMMDSPComponent* Output_ = nullptr; // not owned
    std::unique_ptr<WAVEFORMATEX> WaveFormat_;
    int32_t BufferSize_ = 2048;  // bytes, as configured
    int32_t RealBufferSize_ = 0; // bytes, fixed at Opened
    bool IsOpened_ = false;
    bool IsStarted_ = false;
    bool IsSound_ = false;
    bool Loading_ = false;
    bool Destroying_ = false;
    bool LeftChain_ = false;
};

// A chain head without processing of its own: its buffers come from OnBufferLoad.
class TMMDSPInterface : public TMMDSPComponent {
public:
    void Opened() override;
    void Closed() override;
    void Started() override;
    void Paused() override;
    void Restarted() override;
    void Stopped() override;

    TNotifyEvent OnOpen;
    TNotifyEvent OnStart;
    TNotifyEvent OnPause;
    TNotifyEvent OnRestart;
    TNotifyEvent OnStop;
    TNotifyEvent OnClose;
};

// A component that drives a chain (the wave output device derives from it). Its life-cycle
// operations walk the chain: every plain component from the head, and the first other sound
// component downstream, gets the notification before this component's own base operation.
// A subclass that maps Opened/Started/... onto its device calls these walks (qualified) for
// "the chain gets Opened" and so on.
class TMMCustomSoundComponent : public TMMDSPComponent {
public:
    TMMCustomSoundComponent();
    ~TMMCustomSoundComponent() override;

    void Opened() override;
    void Closed() override;
    void Started() override;
    void Paused() override;
    void Restarted() override;
    void Stopped() override;
    void Flushed() override;
    // A buffer-ready arriving from upstream stops at a sound component. The driver hands its
    // played buffers downstream with DeliverBufferReady.
    void BufferReady(PWaveHdr lpWaveHdr) override;

    // Set at Opened when another sound component lies upstream.
    bool FedBySound() const { return FedBySound_; }

protected:
    // The base BufferReady: OnBufferReady, then Output.BufferReady.
    void DeliverBufferReady(PWaveHdr lpWaveHdr) { TMMDSPComponent::BufferReady(lpWaveHdr); }

private:
    enum class Walk { Started, Paused, Restarted, Flushed };
    TMMDSPComponent* Head(bool* fedBySound) const;
    void WalkForward(Walk w);
    bool FedBySound_ = false;
};

} // namespace zelvox
