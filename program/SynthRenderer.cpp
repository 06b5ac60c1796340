#include "program/SynthRenderer.h"

namespace zelvox {

SynthRenderer::SynthRenderer() : OfflineRender(Synth.Echo, Synth.Eng) {
    Chain.AttachSynth(Synth);
    SetOutput(&OutputDevice());
}

SynthRenderer::~SynthRenderer() { SetOutput(nullptr); }

} // namespace zelvox
