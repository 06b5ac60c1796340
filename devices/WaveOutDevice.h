#pragma once
// The platform's wave output services, behind a small interface so that the output engine
// (TMMWaveOut) runs the same on JACK, PulseAudio, ALSA, a virtual device and a scripted
// test device.
//
// What every device guarantees:
// - Buffers written with Write are played in the order written and each comes back exactly
//   once through a kWomDone notification carrying the caller's token, in the same order.
// - Notifications (kWomOpen after Open, kWomDone, kWomClose after Close, kWomFailed when
//   the device stops working) arrive on the device's own thread (the scripted test device
//   delivers them on the caller's thread). The receiver may only count and post from there.
// - Pause queues without playing; Restart plays; Reset returns every queued buffer at once
//   (their kWomDone follow promptly) and sets the position to 0.
// - Close refuses while buffers are queued (kWaverrStillPlaying).
// The device never touches the bytes of a buffer after its kWomDone.

#include <cstdint>
#include <memory>
#include <string>

namespace zelvox {

// Result codes of device calls; 0 is success.
constexpr int32_t kMmsyserrNoError = 0;
constexpr int32_t kMmsyserrError = 1;         // the device's own text says more
constexpr int32_t kMmsyserrBadDeviceId = 2;
constexpr int32_t kMmsyserrAllocated = 4;     // already open
constexpr int32_t kMmsyserrInvalHandle = 5;   // not open
constexpr int32_t kMmsyserrNoDriver = 6;      // no device / the device went away
constexpr int32_t kMmsyserrNoMem = 7;         // queue full
constexpr int32_t kWaverrBadFormat = 32;
constexpr int32_t kWaverrStillPlaying = 33;

// Notification messages (the first three have the platform's numbers).
constexpr uint32_t kWomOpen = 0x3BB;
constexpr uint32_t kWomClose = 0x3BC;
constexpr uint32_t kWomDone = 0x3BD;
constexpr uint32_t kWomFailed = 0x3BF; // the device stopped working; see FailureText()

// Capability bits for the formats a device plays (rate range 1: 11025, 2: 22050, 4: 44100;
// M/S mono/stereo; 08/16 bits), as the format check at Open reads them.
constexpr uint32_t kWaveFormat1M08 = 1u << 0, kWaveFormat1S08 = 1u << 1,
                   kWaveFormat1M16 = 1u << 2, kWaveFormat1S16 = 1u << 3;
constexpr uint32_t kWaveFormat2M08 = 1u << 4, kWaveFormat2S08 = 1u << 5,
                   kWaveFormat2M16 = 1u << 6, kWaveFormat2S16 = 1u << 7;
constexpr uint32_t kWaveFormat4M08 = 1u << 8, kWaveFormat4S08 = 1u << 9,
                   kWaveFormat4M16 = 1u << 10, kWaveFormat4S16 = 1u << 11;

// PCM stream format as the device needs it.
struct WaveOutFormat {
    uint16_t FormatTag = 1; // 1 = PCM
    uint16_t Channels = 1;
    uint32_t SamplesPerSec = 44100;
    uint16_t BitsPerSample = 16;
    uint16_t BlockAlign() const { return static_cast<uint16_t>(Channels * BitsPerSample / 8); }
};

struct WaveOutCaps {
    std::string Name;          // shown as the engine's ProductName
    uint32_t DriverVersion = 0;
    uint32_t Formats = 0;      // kWaveFormat* bits
    uint16_t Channels = 0;
};

// Notification receiver: Instance as given to Open, Msg one of kWom*, Token the buffer's
// token for kWomDone (null otherwise).
using WaveOutProc = void (*)(void* instance, uint32_t msg, void* token);

// One output device.
class WaveOutDevice {
public:
    virtual ~WaveOutDevice() = default;

    virtual int32_t GetCaps(WaveOutCaps& caps) = 0;
    // 0 when the device can play the format (the open-as-query of the platform).
    virtual int32_t QueryFormat(const WaveOutFormat& format) = 0;
    virtual int32_t Open(const WaveOutFormat& format, WaveOutProc proc, void* instance) = 0;
    // Queues Bytes bytes at Data; the memory stays the caller's and must stay valid until
    // the buffer's kWomDone.
    virtual int32_t Write(void* token, const uint8_t* data, uint32_t bytes) = 0;
    virtual int32_t Pause() = 0;
    virtual int32_t Restart() = 0;
    virtual int32_t Reset() = 0;
    virtual int32_t Close() = 0;
    // Samples played since Open or the last Reset.
    virtual int32_t GetPosition(uint64_t& samples) = 0;

    // Text of a result code this device returned.
    virtual std::string ErrorText(int32_t result);
    // Why the last QueryFormat refused the format, where the device can tell ("" if not).
    virtual std::string FormatProblem() { return ""; }
    // Why the device sent kWomFailed.
    virtual std::string FailureText() { return "The sound device stopped working"; }
    // Times the device ran dry between two written buffers and played silence instead.
    virtual uint64_t Underruns() const { return 0; }
    // Interruptions the sound server itself reported (JACK xruns); 0 where there are none.
    virtual uint64_t ServerXruns() const { return 0; }
};

// The list of output devices the engine chooses from (its DeviceID indexes it).
class WaveOutSystem {
public:
    virtual ~WaveOutSystem() = default;
    virtual int32_t GetNumDevs() = 0;
    // Id -1 (the mapper) means device 0.
    virtual int32_t GetDevCaps(int32_t id, WaveOutCaps& caps) = 0;
    virtual std::unique_ptr<WaveOutDevice> CreateDevice(int32_t id) = 0;
};

// Texts of the common result codes.
std::string WaveOutResultText(int32_t result);

// The system the engine uses unless it is given another. Until one is set, the first use
// builds it from the "Audio" section of the settings file (see AudioBackend.h).
WaveOutSystem& DefaultWaveOutSystem();
// Replaces the default (not owned; null returns to the settings-file system).
void SetDefaultWaveOutSystem(WaveOutSystem* system);

} // namespace zelvox
