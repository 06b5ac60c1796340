#include "devices/WaveOutDevice.h"

#include <memory>

#include "devices/AudioBackend.h"
#include "settings/Settings.h"

namespace zelvox {

std::string WaveOutResultText(int32_t result) {
    switch (result) {
    case kMmsyserrNoError: return "The command completed successfully";
    case kMmsyserrError: return "The sound device reported an error";
    case kMmsyserrBadDeviceId: return "The sound device is not there";
    case kMmsyserrAllocated: return "The sound device is already open";
    case kMmsyserrInvalHandle: return "The sound device is not open";
    case kMmsyserrNoDriver: return "There is no sound device";
    case kMmsyserrNoMem: return "The sound device's queue is full";
    case kWaverrBadFormat: return "The sound device can't play this format";
    case kWaverrStillPlaying: return "Buffers are still queued at the sound device";
    default: return "Specified error number is out of range (unknown error)";
    }
}

std::string WaveOutDevice::ErrorText(int32_t result) { return WaveOutResultText(result); }

namespace {
WaveOutSystem* Chosen = nullptr;
} // namespace

WaveOutSystem& DefaultWaveOutSystem() {
    if (Chosen) return *Chosen;
    static std::unique_ptr<WaveOutSystem> fromSettings =
        CreateWaveOutSystem(ReadAudioBackendChoice(TSettingsFile()));
    return *fromSettings;
}

void SetDefaultWaveOutSystem(WaveOutSystem* system) { Chosen = system; }

} // namespace zelvox
