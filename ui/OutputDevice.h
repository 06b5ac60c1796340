#pragma once
// What the main window needs from the audio side, as small interfaces. The real audio chain
// (the wave output device, the WAV sink) plugs in behind these; tests use
// scripted stand-ins. None of these is called on the per-sample path except from SeqStep
// (a Stop at the end of an arranged song), which runs inside the buffer fill on the main
// thread.

#include <cstdint>

namespace zelvox {

// The output device as the transport buttons see it. Start: begin pulling buffers through
// the chain (each pull ends in the synth's render loop). Stop: request no further
// buffers. Stop may be called from inside a buffer fill (the arranger ending a song); the
// device must finish the buffer being filled and then stop.
class TransportDevice {
public:
    virtual ~TransportDevice() = default;
    virtual void Start() = 0;
    virtual void Stop() = 0;
};

// The WAV sink as the Stop button sees it while a recording is armed: switch the sink off
// and finalise and forget its file.
class RecordingSink {
public:
    virtual ~RecordingSink() = default;
    virtual void EndRecording() = 0;
};

} // namespace zelvox
