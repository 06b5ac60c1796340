#pragma once
// A device driven by its caller, for tests and offline use: written buffers wait until the
// caller "plays" them with Complete, which appends their bytes to Played and sends kWomDone.
// Notifications are delivered synchronously on the calling thread, so a test decides
// exactly when every buffer comes back. Results and missing notifications can be scripted
// to exercise the engine's error paths.

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "devices/WaveOutDevice.h"

namespace zelvox {

class ScriptedWaveOutDevice final : public WaveOutDevice {
public:
    // Script
    WaveOutCaps Caps{"Scripted output", 0x0100, 0xFFF, 2};
    int32_t QueryResult = kMmsyserrNoError;
    int32_t OpenResult = kMmsyserrNoError;
    int32_t WriteResult = kMmsyserrNoError; // returned by every Write while non-zero
    bool SendOpenNotification = true;
    bool SendCloseNotification = true;

    // What happened
    std::vector<uint8_t> Played;       // bytes of every completed buffer, in order
    std::vector<std::string> Calls;    // "Open", "Write", "Pause", "Restart", "Reset", "Close"
    size_t Writes = 0;
    bool Paused = false;
    bool IsOpen = false;
    WaveOutFormat Format;

    size_t Queued() const { return Queue_.size(); }
    // Plays the N oldest queued buffers (all when N exceeds the queue); returns how many.
    size_t Complete(size_t n = 1);
    size_t CompleteAll() { return Complete(Queue_.size()); }
    // The device stops working: kWomFailed, and Write fails from now on.
    void Fail();

    int32_t GetCaps(WaveOutCaps& caps) override;
    int32_t QueryFormat(const WaveOutFormat& format) override;
    int32_t Open(const WaveOutFormat& format, WaveOutProc proc, void* instance) override;
    int32_t Write(void* token, const uint8_t* data, uint32_t bytes) override;
    int32_t Pause() override;
    int32_t Restart() override;
    int32_t Reset() override;
    int32_t Close() override;
    int32_t GetPosition(uint64_t& samples) override;

private:
    struct Pending {
        void* Token;
        const uint8_t* Data;
        uint32_t Bytes;
    };
    std::deque<Pending> Queue_;
    WaveOutProc Proc_ = nullptr;
    void* Instance_ = nullptr;
    uint64_t PositionBytes_ = 0;
    bool Failed_ = false;
};

// A list of scripted devices. Each CreateDevice makes a fresh device and remembers it as
// Last (owned by whoever called CreateDevice); Setup runs on it before it is handed out.
class ScriptedWaveOutSystem final : public WaveOutSystem {
public:
    int32_t NumDevs = 1;
    ScriptedWaveOutDevice* Last = nullptr;
    std::function<void(ScriptedWaveOutDevice&)> Setup;

    int32_t GetNumDevs() override { return NumDevs; }
    int32_t GetDevCaps(int32_t id, WaveOutCaps& caps) override;
    std::unique_ptr<WaveOutDevice> CreateDevice(int32_t id) override;
};

} // namespace zelvox
