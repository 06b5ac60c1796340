#pragma once
// The window's model without a window or a sound device: the main window's logic started as
// the program starts, playing through the offline chain. The pattern bank's builder, the
// fuzzers and tests that edit through the window's controls drive this; zelvox-render itself
// is built without the window's model (SynthRenderer).

#include <memory>

#include "program/OfflineRender.h"
#include "program/ProgramCore.h"

namespace zelvox {

class HeadlessProgram : public ProgramCore, public OfflineRender {
public:
    // Start-up: the main window (its FormCreate and the chain's format), then the envelope
    // dialog, which builds the four curve tables.
    HeadlessProgram();
    ~HeadlessProgram() override;

    // File -> "Load pattern" with this file chosen. EInOutError on failure, nothing changed.
    void Load(const std::string& path) { LoadPattern(path); }

private:
    // "Loop" on the Bass page, or the Arranger page and "Play"; "Stop".
    void StartPlay(bool arranger) override;
    void StopPlay() override;

    struct Sink;
    std::unique_ptr<Sink> Sink_;
};

} // namespace zelvox
