#pragma once
// The buffered output on JACK, on libjack itself. It plays through the program's kept client
// (devices/JackClient.h), the one that answered the questions before (is the device there,
// which rate): its ports are registered when a stream starts and unregistered when it stops.
// The process callback only calls Pull and converts.

#include <atomic>
#include <string>
#include <vector>

#include <jack/jack.h>
#include <rtaudio/RtAudio.h>

#include "devices/backends/StreamingDevice.h"

namespace zelvox {

struct JackDeviceLink;
struct JackConversion;

// JACK's output devices as the program lists them: one device per client that owns audio
// ports, named by that client, its playback channels the ports that take sound in, in the
// server's port order; the server's single rate. False when no server answers.
bool ListJackOutputs(std::vector<RtAudio::DeviceInfo>& infos);

// The first two physical playback ports of the server (a desktop's speakers, or PipeWire's
// default sink), in the server's order; fewer when it has fewer.
std::vector<std::string> PhysicalPlaybackPorts(jack_client_t* client);

// Connects an output of `channels` ports (1 or 2) to the first two of `targets`: a mono output
// to both, stereo channel by channel. A connection that is already there stays.
void ConnectOutputs(jack_client_t* client, jack_port_t* const* ports, uint32_t channels,
                    const std::vector<std::string>& targets);

class JackWaveOutDevice final : public StreamingWaveOutDevice {
public:
    // DeviceName: the client whose playback ports the sound goes to (empty: the speakers, the
    // first physical playback ports, else the first client that has any); ClientName: how the
    // program's client is named to the server; Connect: whether the output connects itself
    // there when it starts (off, the ports are left for the user or a session to connect).
    JackWaveOutDevice(std::string deviceName, std::string clientName = "zelvox", bool connect = true);
    ~JackWaveOutDevice() override;

    int32_t GetCaps(WaveOutCaps& caps) override;
    int32_t QueryFormat(const WaveOutFormat& format) override;
    std::string FormatProblem() override { return FormatWhy_; }
    std::string FailureText() override;

    // Frames per period of the server (after Open).
    unsigned BufferFrames() const { return BufferFrames_; }

protected:
    int32_t StartStream(const WaveOutFormat& format) override;
    void StopStream(bool failed) override;

private:
    struct Target {
        RtAudio::DeviceInfo Info;
        std::vector<std::string> Playback; // the device's ports that take sound in
    };
    // The device as the server has it now; false with LastError_ set (and the code) when not.
    bool Find(Target& target, int32_t& code);
    // Empty when a stream at Stream Hz can play on a server at Server Hz (the same rate, or
    // the synth's 44,100 Hz converted); else why not, also kept in LastError_.
    std::string RateProblem(uint32_t stream, uint32_t server);
    void PullFloat(uint32_t channels, float* const* dst, uint32_t at, uint32_t frames);
    void PlayDirect(uint32_t channels, float* const* dst, uint32_t frames);
    void PlayConverted(JackConversion& conv, uint32_t channels, float* const* dst, uint32_t frames);
    static int Process(jack_nframes_t frames, void* self);
    static int Xrun(void* self);
    static void Shutdown(void* self);

    std::string FormatWhy_; // why the last QueryFormat refused, when it did
    std::string DeviceName_;
    std::string ClientName_;
    bool Connect_ = true;
    jack_client_t* Client_ = nullptr;
    JackDeviceLink* Link_ = nullptr; // what the callback sees; see the source
    std::vector<uint8_t> Scratch_; // 16-bit frames pulled before conversion, sized at open
    unsigned BufferFrames_ = 0;
};

} // namespace zelvox
