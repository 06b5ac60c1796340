#pragma once
// zelvox-render's renderer: the program's own synth (no window's model) through the offline
// chain. What it plays is chosen on the synth (SynthProgram), which never edits a pattern.

#include "program/OfflineRender.h"
#include "program/SynthProgram.h"

namespace zelvox {

class SynthRenderer : public SynthProgram, public OfflineRender {
public:
    SynthRenderer();
    ~SynthRenderer() override;

private:
    void StartPlay(bool arranger) override { Play(arranger); }
    void StopPlay() override { Stop(); }
};

} // namespace zelvox
