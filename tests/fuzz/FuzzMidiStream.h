#pragma once
// Fuzz body: MIDI bytes from a device, as short messages and system-exclusive blocks, through
// the driver callback, the event ring and the main thread's handler.
//
// The input is a script of commands (first byte of each picks one):
//   0  short message: the next 4 bytes, little-endian, as the driver's packed message
//   1  system-exclusive block: a 2-byte length (mod 9000), then that many bytes
//   2  the main thread runs what was posted to it (the handler takes the waiting events)
//   3  SysexOnly toggles
//   4  the device is closed and opened again (another ring size may take effect)
// A 4-byte header picks the ring capacity and the system-exclusive buffers.
//
// What must hold, besides no crash and no sanitizer report: every event taken from the ring
// is the one the driver handed over, in order, except what the callback drops (active
// sensing, timing clock, short messages while SysexOnly, anything while the ring is full).

#include <cstdint>
#include <cstring>
#include <deque>
#include <functional>
#include <vector>

#include "fuzz/FuzzInput.h"
#include "midi/MidiIn.h"
#include "midi/backends/ScriptedMidiIn.h"

namespace zelvox::fuzz {

struct ExpectedMidiEvent {
    uint32_t Short = 0;
    bool Sysex = false;
    std::vector<uint8_t> Bytes;
};

class MidiStreamRun {
public:
    explicit MidiStreamRun(FuzzInput& in)
        : In_(in), Service_({MakeDevice()}), Input_(Service_, &Queue_) {
        Input_.SetCapacity(static_cast<uint16_t>(In_.Byte() % 40));     // 0..39: overflow is easy
        Input_.SetSysexBufferSize(static_cast<uint16_t>(In_.U16() % 600));
        Input_.SetSysexBufferCount(static_cast<uint16_t>(In_.Byte() % 5));
        Input_.OnMidiInput = [this](TMidiInput& sender) { Take(sender); };
        OpenAndStart();
    }

    void Run() {
        while (!In_.Empty()) {
            switch (In_.Byte() % 5) {
            case 0: SendShort(In_.U32()); break;
            case 1: {
                std::vector<uint8_t> bytes = In_.Bytes(In_.U16() % 9000);
                SendSysex(bytes);
                break;
            }
            case 2: Queue_.ProcessPending(); break;
            case 3: Input_.SetSysexOnly(!Input_.SysexOnly()); break;
            case 4:
                Queue_.ProcessPending();
                Input_.Close();
                Expected_.clear(); // Close drops whatever was still queued
                OpenAndStart();
                break;
            }
        }
        Queue_.ProcessPending();
        Take(Input_);
        Check(Input_.PendingCount() == 0, "events left in the ring after draining it");
        Input_.Close();
        Check(Service_.QueuedBuffers() == 0, "buffers still queued at the service after Close");
    }

    // Called for every event taken from the ring, before it is released. The MIDI setup's
    // DoEvent goes here.
    std::function<void(const TMyMidiEvent&)> OnEvent;

private:
    static ScriptedMidiIn::Device MakeDevice() {
        ScriptedMidiIn::Device d;
        d.Name = "Fuzz keys";
        return d;
    }

    static void Check(bool ok, const char* what) { FuzzCheck(ok, "MIDI stream", what); }

    void OpenAndStart() {
        if (Input_.Open()) Input_.Start();
    }

    void SendShort(uint32_t message) {
        const uint16_t before = Input_.PendingCount();
        Service_.SendShort(message, ++Time_);
        const uint16_t after = Input_.PendingCount();
        const bool dropped = message == 0xFE || message == 0xF8 || Input_.SysexOnly() ||
                             !Input_.IsOpen() || before >= Input_.Capacity();
        Check(after == (dropped ? before : before + 1), "short message counted wrongly");
        if (!dropped) Expected_.push_back({message, false, {}});
    }

    void SendSysex(const std::vector<uint8_t>& bytes) {
        const uint16_t before = Input_.PendingCount();
        Service_.SendSysex(bytes, ++Time_);
        const uint16_t after = Input_.PendingCount();
        Check(after >= before && after <= Input_.Capacity(), "system-exclusive count out of range");
        // What reached the ring is the message's first pieces, one buffer each: the rest was
        // lost for want of a free buffer or of room in the ring.
        const size_t piece = Input_.SysexBufferSize();
        size_t done = 0;
        for (uint16_t k = before; k < after; ++k) {
            const size_t n = std::min(bytes.size() - done, piece);
            Expected_.push_back({0, true, {bytes.begin() + done, bytes.begin() + done + n}});
            done += n;
        }
    }

    void Take(TMidiInput& sender) {
        while (sender.PendingCount() > 0) {
            auto event = sender.NextEvent();
            Check(event != nullptr, "PendingCount > 0 but no event");
            Check(!Expected_.empty(), "an event that was never sent");
            const ExpectedMidiEvent want = Expected_.front();
            Expected_.pop_front();
            if (want.Sysex) {
                Check(event->Status == 0xF0 && event->Param1 == 0 && event->Param2 == 0,
                      "system-exclusive event with the wrong status");
                Check(event->SysexCount == want.Bytes.size(), "system-exclusive length differs");
                Check(want.Bytes.empty() ||
                          std::memcmp(event->SysexBytes.get(), want.Bytes.data(),
                                      want.Bytes.size()) == 0,
                      "system-exclusive bytes differ");
            } else {
                Check(event->Status == (want.Short & 0xFF) &&
                          event->Param1 == ((want.Short >> 8) & 0xFF) &&
                          event->Param2 == ((want.Short >> 16) & 0xFF) && event->SysexCount == 0,
                      "short message differs");
            }
            if (OnEvent) OnEvent(*event);
        }
    }

    FuzzInput& In_;
    ScriptedMidiIn Service_;
    MainThreadQueue Queue_;
    TMidiInput Input_;
    std::deque<ExpectedMidiEvent> Expected_;
    uint32_t Time_ = 0;
};

inline void MidiStreamOne(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    MidiStreamRun run(in);
    run.Run();
}

} // namespace zelvox::fuzz
