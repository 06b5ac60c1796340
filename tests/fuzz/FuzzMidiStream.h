#pragma once
// Fuzz body: MIDI bytes from a device, as short messages and system-exclusive blocks, through
// the driver callback, the event ring and the MIDI setup dialog's DoEvent, which turns Control
// Change messages into knob values of the main window.
//
// A header picks the ring capacity, the system-exclusive buffers, the channel filter, the
// controller number of each knob function, and whether the dialog's own handler takes the
// events (otherwise this body takes them, checks each against what was sent, and hands it to
// DoEvent). Then a script of commands (first byte of each picks one):
//   0  short message: the next 4 bytes, little-endian, as the driver's packed message
//   1  system-exclusive block: a 2-byte length (mod 9000), then that many bytes
//   2  the main thread runs what was posted to it (the handler takes the waiting events)
//   3  SysexOnly toggles
//   4  "Enable MIDI" is cleared and ticked again: the device closes and opens
//
// What must hold, besides no crash and no sanitizer report: every event taken from the ring
// is the one the driver handed over, in order, except what the callback drops (active
// sensing, timing clock, short messages while SysexOnly, anything while the ring is full);
// the last-message field shows the event; every knob stays inside its range; the sound that
// the knobs then make is valid 16-bit audio.

#include <cstdint>
#include <cstring>
#include <deque>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "support/WindowModel.h"
#include "settings/Settings.h"
#include "fuzz/FuzzFiles.h"
#include "fuzz/FuzzInput.h"
#include "midi/MidiIn.h"
#include "program/MidiKnobs.h"
#include "ui/MidiSetup.h"
#include "midi/backends/ScriptedMidiIn.h"
#include "ui/MainForm.h"

namespace zelvox::fuzz {

struct ExpectedMidiEvent {
    uint32_t Short = 0;
    bool Sysex = false;
    std::vector<uint8_t> Bytes;
};

class MidiStreamRun {
public:
    explicit MidiStreamRun(FuzzInput& in)
        : In_(in), Service_({MakeDevice()}),
          Settings_((ScratchDir::Get() / "no-such-settings.ini").string()) {
        Form_.FormCreate();
        Dialog_ = std::make_unique<TForm4>(Service_, &Queue_, Settings_, MidiKnobsOf(Form_));
        Input_ = Dialog_->MidiInput1.get();
        Check(Input_ != nullptr && !Input_->IsOpen(), "the dialog opened without being enabled");
        Input_->SetCapacity(static_cast<uint16_t>(In_.Byte() % 40)); // 0..39: overflow is easy
        Input_->SetSysexBufferSize(static_cast<uint16_t>(In_.U16() % 600));
        Input_->SetSysexBufferCount(static_cast<uint16_t>(In_.Byte() % 5));
        Dialog_->SpinEdit971.SetValue(In_.Byte() % 20); // channel filter; 0 = every channel
        DialogHandler_ = (In_.Byte() & 1) != 0;
        for (int slot = 0; slot < kCCSlots; ++slot)
            Dialog_->CCTable[size_t(slot)] = In_.Byte() % 130; // a few match no controller
        if (!DialogHandler_) Input_->OnMidiInput = [this](TMidiInput& sender) { Take(sender); };
        Dialog_->CheckBox1.SetChecked(true); // "Enable MIDI": opens and starts the device
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
            case 2: Deliver(); break;
            case 3: Input_->SetSysexOnly(!Input_->SysexOnly()); break;
            case 4:
                Deliver();
                Dialog_->CheckBox1.SetChecked(false);
                Expected_.clear(); // closing drops whatever was still queued
                Dialog_->CheckBox1.SetChecked(true);
                break;
            }
        }
        Deliver();
        Take(*Input_);
        Check(Input_->PendingCount() == 0, "events left in the ring after draining it");
        CheckKnobs();
        Dialog_->CheckBox1.SetChecked(false);
        Check(!Input_->IsOpen(), "clearing Enable MIDI left the device open");
        Check(Service_.QueuedBuffers() == 0, "buffers still queued at the service after Close");
        // The sound the knobs make now: a few buffers of the loop.
        Form_.Button1Click();
        std::vector<int16_t> buffer(441);
        for (int b = 0; b < 3; ++b) {
            uint32_t recorded = 0;
            bool more = true;
            Form_.Eng.RenderBuffer(buffer.data(), 882, recorded, more);
            for (int16_t v : buffer) Check(v >= -32767, "a sample of -32768");
        }
    }

private:
    static ScriptedMidiIn::Device MakeDevice() {
        ScriptedMidiIn::Device d;
        d.Name = "Fuzz keys";
        return d;
    }

    static void Check(bool ok, const char* what) { FuzzCheck(ok, "MIDI stream", what); }

    // The main thread's turn: what the driver posted is handled.
    void Deliver() {
        Queue_.ProcessPending();
        if (DialogHandler_) {
            // The dialog took the events: they leave the model in order.
            while (Expected_.size() > Input_->PendingCount()) Expected_.pop_front();
            CheckKnobs();
        }
    }

    void CheckKnobs() {
        for (Knob* k : MidiKnobsOf(Form_))
            if (k) Check(k->Value() >= k->Min() && k->Value() <= k->Max(), "a knob outside its range");
    }

    static std::string Hex3(const TMyMidiEvent& e) {
        char text[16];
        std::snprintf(text, sizeof text, "%02X %02X %02X", e.Status, e.Param1, e.Param2);
        return text;
    }

    void SendShort(uint32_t message) {
        const uint16_t before = Input_->PendingCount();
        Service_.SendShort(message, ++Time_);
        const uint16_t after = Input_->PendingCount();
        const bool dropped = message == 0xFE || message == 0xF8 || Input_->SysexOnly() ||
                             !Input_->IsOpen() || before >= Input_->Capacity();
        Check(after == (dropped ? before : before + 1), "short message counted wrongly");
        if (!dropped) Expected_.push_back({message, false, {}});
    }

    void SendSysex(const std::vector<uint8_t>& bytes) {
        const uint16_t before = Input_->PendingCount();
        Service_.SendSysex(bytes, ++Time_);
        const uint16_t after = Input_->PendingCount();
        Check(after >= before && after <= Input_->Capacity(), "system-exclusive count out of range");
        // What reached the ring is the message's first pieces, one buffer each: the rest was
        // lost for want of a free buffer or of room in the ring.
        const size_t piece = Input_->SysexBufferSize();
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
            Dialog_->DoEvent(*event);
            Check(Dialog_->edit1.Caption() == Hex3(*event), "the last-message field differs");
        }
    }

    FuzzInput& In_;
    test::WindowModel Window_;
    MainForm& Form_ = Window_.Form;
    ScriptedMidiIn Service_;
    MainThreadQueue Queue_;
    TSettingsFile Settings_;
    std::unique_ptr<TForm4> Dialog_;
    TMidiInput* Input_ = nullptr;
    bool DialogHandler_ = false;
    std::deque<ExpectedMidiEvent> Expected_;
    uint32_t Time_ = 0;
};

inline void MidiStreamOne(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    MidiStreamRun run(in);
    run.Run();
}

} // namespace zelvox::fuzz
