#pragma once
// The WAV sink: the last member of the chain. It never asks for data; the output device
// hands it every buffer after playing it (BufferReady), and while streaming and enabled it
// appends the bytes to its wave's file. The file is created when the chain opens and
// finalised when it closes (or when the disk runs low, which ends the recording quietly).

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "audio/MMDSPObj.h"
#include "files/MMObserver.h"
#include "files/MMWave.h"

namespace zelvox {

class TMMCustomWaveFile : public TMMDSPComponent {
public:
    TMMCustomWaveFile();
    ~TMMCustomWaveFile() override; // Closed(), then the wave (finalising a file still open)

    TMMWave& Wave() { return *Wave_; }
    const TMMWave& Wave() const { return *Wave_; }
    bool Enabled() const { return Enabled_; }
    void SetEnabled(bool on) { Enabled_ = on; }
    bool OverwriteExisting() const { return OverwriteExisting_; }
    void SetOverwriteExisting(bool on) { OverwriteExisting_ = on; }
    bool FileOpened() const { return FileOpened_; }
    bool FileStarted() const { return FileStarted_; }
    uint16_t SilenceValue() const { return SilenceValue_; }

    // Free bytes on the drive that holds a file; false when it cannot be told. Replaceable
    // (tests simulate a nearly full disk); by default std::filesystem::space.
    std::function<bool(const std::string& path, uint64_t& freeBytes)> FreeSpace;

    // Why the sink stopped writing before the recording was ended: "Disk full" when the
    // drive ran low or refused the bytes for lack of space, "I/O error %d" (the system's error
    // number) when a write failed otherwise; empty while nothing went wrong. The file keeps
    // what was written before. Cleared when the chain opens the next file.
    const std::string& WriteProblem() const { return WriteProblem_; }
    // Raised once when that happens, so the window can tell the user that the recording
    // ended early (the music plays on).
    TNotifyEvent OnWriteProblem;

    void SetWaveFormat(PWaveFormatEx Format) override;
    void Opened() override;
    void Closed() override;
    void Started() override;
    void Stopped() override;
    void BufferReady(PWaveHdr lpWaveHdr) override;
    void BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers) override;

    TNotifyEvent OnOpen, OnClose, OnChange, OnChanged, OnLooping;

private:
    void WaveChanged();
    void StopForProblem(const std::string& problem);

    std::unique_ptr<TMMWave> Wave_;
    int32_t SavedPosition_ = 0; // frames (source role)
    uint16_t SilenceValue_ = 128;
    bool Enabled_ = true;
    bool FileOpened_ = false;
    bool FileStarted_ = false;
    bool OverwriteExisting_ = true;
    std::string WriteProblem_;
    TMMObserver WaveObserver_;
};

class TMMWaveFile : public TMMCustomWaveFile {};

} // namespace zelvox
