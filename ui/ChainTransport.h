#pragma once
// The transport buttons' view of a chain's output end: the wave output device (TMMWaveOut)
// in the program, the offline output (TMMOfflineOut) when rendering. Both stop after the
// buffer being filled when Stop comes from inside the render loop (the end of a song).

#include "ui/OutputDevice.h"

namespace zelvox {

template <class OutputEnd>
class ChainTransport final : public TransportDevice {
public:
    explicit ChainTransport(OutputEnd& out) : Out_(out) {}
    void Start() override { Out_.Start(); }
    void Stop() override { Out_.Stop(); }

private:
    OutputEnd& Out_;
};

} // namespace zelvox
