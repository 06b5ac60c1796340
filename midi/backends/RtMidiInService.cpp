#include "midi/backends/RtMidiInService.h"
#include "midi/MidiBytes.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include <jack/jack.h>
#include <jack/midiport.h>
#include <rtmidi/RtMidi.h>

#include "devices/JackClient.h"

namespace zelvox {

namespace {

RtMidi::Api ToRt(RtMidiInService::Api api) {
    return api == RtMidiInService::Api::Jack ? RtMidi::UNIX_JACK : RtMidi::LINUX_ALSA;
}

const char* ApiLabel(RtMidiInService::Api api) {
    return api == RtMidiInService::Api::Jack ? "JACK" : "ALSA";
}

MidiResult CodeFor(RtMidiError::Type type) {
    switch (type) {
    case RtMidiError::INVALID_DEVICE: return kMidiErrBadDeviceId;
    case RtMidiError::INVALID_PARAMETER:
    case RtMidiError::INVALID_USE: return kMidiErrInvalidParam;
    case RtMidiError::MEMORY_ERROR: return kMidiErrNoMem;
    case RtMidiError::NO_DEVICES_FOUND:
    case RtMidiError::DRIVER_ERROR:
    case RtMidiError::SYSTEM_ERROR:
    case RtMidiError::THREAD_ERROR: return kMidiErrNoDriver;
    default: return kMidiErrUnspecified;
    }
}

// RtMidi reports some failures through its error callback instead of throwing (and only
// prints warnings); this collects them so that each call can be checked afterwards.
struct ErrorSink {
    bool Failed = false;
    RtMidiError::Type Type = RtMidiError::UNSPECIFIED;
    std::string Text;

    static void Callback(RtMidiError::Type type, const std::string& text, void* self) {
        auto* sink = static_cast<ErrorSink*>(self);
        if (sink->Failed) return; // the first failure is the cause
        sink->Failed = true;
        sink->Type = type;
        sink->Text = text;
    }
};

// The MIDI sources on the JACK server, through the program's listing client, as RtMidi lists
// them (the MIDI ports that send, by their full names). RtMidi would open one client to see
// whether the server runs and another to list. False, with why set, when no server answers.
bool JackMidiSources(std::vector<std::string>& sources, std::string& why) {
    const bool answered = WithJackListClient([&](jack_client_t* c) {
        if (const char** ports = jack_get_ports(c, nullptr, JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput)) {
            for (size_t i = 0; ports[i]; ++i) sources.emplace_back(ports[i]);
            jack_free(ports);
        }
    });
    if (!answered) why = "JACK: the JACK server is not running";
    return answered;
}

class RtPort : public MidiInPort {
public:
    RtPort(MidiInProc proc, void* instance) : Proc_(proc), Instance_(instance) {}
    ~RtPort() override { Shutdown(); }

    // Creates the client and opens the port; on failure code and text say why.
    MidiResult OpenPort(const RtMidiInService::Entry& e, const std::string& clientName,
                        const std::string& portName, std::string& text) {
        if (e.Which == RtMidiInService::Api::Jack) return OpenJack(e, clientName, portName, text);
        try {
            In_ = std::make_unique<RtMidiIn>(ToRt(e.Which), clientName);
            In_->setErrorCallback(&ErrorSink::Callback, &Sink_);
            In_->ignoreTypes(false, false, false); // the callback filters real-time bytes itself
            In_->setCallback(&Trampoline, this);
            if (e.Virtual) {
                In_->openVirtualPort(portName);
            } else {
                unsigned n = In_->getPortCount();
                unsigned index = n;
                for (unsigned i = 0; i < n && !Sink_.Failed; ++i)
                    if (In_->getPortName(i) == e.Source) index = i;
                if (Sink_.Failed) return Failed(text);
                if (index == n) {
                    text = "MIDI source " + e.Source + " has gone away";
                    In_.reset();
                    return kMidiErrBadDeviceId;
                }
                In_->openPort(index, portName);
            }
            if (Sink_.Failed) return Failed(text);
        } catch (const RtMidiError& err) {
            text = err.getMessage();
            In_.reset();
            return CodeFor(err.getType());
        } catch (const std::bad_alloc&) {
            In_.reset();
            return kMidiErrNoMem;
        }
        return kMidiNoError;
    }

    MidiResult PrepareHeader(MidiHdr& hdr) override {
        if (hdr.lpData == nullptr) return kMidiErrInvalidParam;
        hdr.dwFlags |= kMhdrPrepared;
        return kMidiNoError;
    }
    MidiResult UnprepareHeader(MidiHdr& hdr) override {
        if (hdr.dwFlags & kMhdrInQueue) return kMidiErrStillPlaying;
        hdr.dwFlags &= ~kMhdrPrepared;
        return kMidiNoError;
    }
    MidiResult AddBuffer(MidiHdr& hdr) override {
        if (!(hdr.dwFlags & kMhdrPrepared)) return kMidiErrUnprepared;
        if (hdr.dwFlags & kMhdrInQueue) return kMidiErrStillPlaying;
        hdr.dwFlags = (hdr.dwFlags & ~kMhdrDone) | kMhdrInQueue;
        hdr.dwBytesRecorded = 0;
        PushFree(&hdr);
        return kMidiNoError;
    }
    MidiResult Start() override {
        if (!In_ && !Jack_) return kMidiErrInvalidHandle;
        StartTime_ = std::chrono::steady_clock::now();
        Started_.store(true, std::memory_order_seq_cst);
        return kMidiNoError;
    }
    MidiResult Reset() override {
        StopCallbacks();
        // Every queued buffer goes back, empty, as the callback would have returned it.
        while (MidiHdr* hdr = PopFree()) {
            hdr->dwBytesRecorded = 0;
            hdr->dwFlags = (hdr->dwFlags & ~kMhdrInQueue) | kMhdrDone;
            Proc_(MidiInMsg::LongData, Instance_, reinterpret_cast<uintptr_t>(hdr), 0);
        }
        return kMidiNoError;
    }
    MidiResult Close() override {
        if (!In_ && !Jack_) return kMidiErrInvalidHandle;
        if (Free_.load(std::memory_order_acquire) != nullptr) return kMidiErrStillPlaying;
        Shutdown();
        Proc_(MidiInMsg::Close, Instance_, 0, 0);
        return kMidiNoError;
    }

    std::string GoneReason() const override { return "the JACK server shut down"; }

private:
    // JACK directly rather than through RtMidi, so that the port learns when its server
    // shuts down: a client of a server that has gone must be released at once, before a new
    // server comes up under the same name (releasing it later breaks the new server's other
    // clients in this process, among them the sound output).
    MidiResult OpenJack(const RtMidiInService::Entry& e, const std::string& clientName,
                        const std::string& portName, std::string& text) {
        // The service's kept client (its own, so that it hears its server's shutdown itself):
        // the port is registered on it while the input is open.
        if (const JackAttach a = AttachJackClient(clientName, Jack_); a != JackAttach::Ok) {
            text = JackAttachProblem(a);
            Jack_ = nullptr;
            return kMidiErrNoDriver;
        }
        JackGone_.store(false, std::memory_order_release);
        JackPort_ = jack_port_register(Jack_, portName.c_str(), JACK_DEFAULT_MIDI_TYPE,
                                       JackPortIsInput, 0);
        if (JackPort_ == nullptr) {
            text = "JACK: could not make the input port " + portName;
            CloseJack();
            return kMidiErrNoDriver;
        }
        JackUser_.Process = &JackProcess;
        JackUser_.Shutdown = &JackShutdown;
        JackUser_.Arg = this;
        if (!AddJackUser(Jack_, &JackUser_)) {
            text = "JACK: could not start the client";
            CloseJack();
            return kMidiErrNoDriver;
        }
        if (!e.Virtual) {
            if (jack_port_by_name(Jack_, e.Source.c_str()) == nullptr) {
                text = "MIDI source " + e.Source + " has gone away";
                CloseJack();
                return kMidiErrBadDeviceId;
            }
            const int r = jack_connect(Jack_, e.Source.c_str(), jack_port_name(JackPort_));
            if (r != 0 && r != EEXIST) {
                text = "JACK: could not connect " + e.Source;
                CloseJack();
                return kMidiErrNoDriver;
            }
        }
        return kMidiNoError;
    }

    void CloseJack() {
        if (!Jack_) return;
        RemoveJackUser(Jack_, &JackUser_);
        // The client stays for the next open; the port goes. A client whose server has gone
        // is closed as it is detached (it has nothing left to unregister).
        if (JackPort_ && !JackGone_.load(std::memory_order_acquire) && !JackClientGone(Jack_))
            jack_port_unregister(Jack_, JackPort_);
        DetachJackClient(Jack_);
        Jack_ = nullptr;
        JackPort_ = nullptr;
    }

    // JACK's real-time thread: the events of this period, in order.
    static int JackProcess(jack_nframes_t frames, void* arg) {
        auto* self = static_cast<RtPort*>(arg);
        self->InFlight_.fetch_add(1, std::memory_order_seq_cst);
        if (self->Started_.load(std::memory_order_seq_cst)) {
            void* buffer = jack_port_get_buffer(self->JackPort_, frames);
            const uint32_t n = jack_midi_get_event_count(buffer);
            for (uint32_t i = 0; i < n; ++i) {
                jack_midi_event_t ev;
                if (jack_midi_event_get(&ev, buffer, i) == 0 && ev.size > 0)
                    self->Deliver(ev.buffer, ev.size);
            }
        }
        self->InFlight_.fetch_sub(1, std::memory_order_seq_cst);
        return 0;
    }

    // JACK's own thread, when the server shuts the client down.
    static void JackShutdown(void* arg) {
        auto* self = static_cast<RtPort*>(arg);
        self->JackGone_.store(true, std::memory_order_release);
        self->Proc_(MidiInMsg::Gone, self->Instance_, 0, 0);
    }

    MidiResult Failed(std::string& text) {
        text = Sink_.Text;
        const MidiResult code = CodeFor(Sink_.Type);
        In_.reset();
        return code == kMidiErrUnspecified ? kMidiErrNoDriver : code;
    }

    void StopCallbacks() {
        Started_.store(false, std::memory_order_seq_cst);
        // A callback that saw Started_ set may still be running: wait until it has left.
        while (InFlight_.load(std::memory_order_seq_cst) != 0) std::this_thread::yield();
    }

    void Shutdown() {
        StopCallbacks();
        CloseJack();
        if (In_) {
            try {
                In_->cancelCallback();
                In_->closePort();
            } catch (const RtMidiError&) {
                // closing what is going away anyway
            }
            In_.reset();
        }
    }

    // The free system-exclusive buffers: a stack pushed by the main thread and popped by the
    // driver's thread (one of each), linked through lpNext. Only the popper removes, so a
    // header cannot leave and come back while a pop looks at it.
    void PushFree(MidiHdr* hdr) {
        MidiHdr* head = Free_.load(std::memory_order_relaxed);
        do {
            hdr->lpNext = head;
        } while (!Free_.compare_exchange_weak(head, hdr, std::memory_order_release,
                                              std::memory_order_relaxed));
    }
    MidiHdr* PopFree() {
        MidiHdr* head = Free_.load(std::memory_order_acquire);
        while (head && !Free_.compare_exchange_weak(head, head->lpNext, std::memory_order_acquire,
                                                    std::memory_order_acquire)) {
        }
        return head;
    }

    static void Trampoline(double, std::vector<unsigned char>* message, void* user) {
        auto* self = static_cast<RtPort*>(user);
        self->InFlight_.fetch_add(1, std::memory_order_seq_cst);
        if (self->Started_.load(std::memory_order_seq_cst) && message != nullptr &&
            !message->empty())
            self->Deliver(message->data(), message->size());
        self->InFlight_.fetch_sub(1, std::memory_order_seq_cst);
    }

    uint32_t Now() const {
        using namespace std::chrono;
        return static_cast<uint32_t>(
            duration_cast<milliseconds>(steady_clock::now() - StartTime_).count());
    }

    void Deliver(const uint8_t* bytes, size_t size) {
        const uint32_t time = Now();
        if (bytes[0] == 0xF0) {
            DeliverSysex(bytes, size, time);
            return;
        }
        SplitShortMessages(bytes, size, [&](uint32_t packed) {
            Proc_(MidiInMsg::Data, Instance_, packed, time);
        });
    }

    void DeliverSysex(const uint8_t* bytes, size_t size, uint32_t time) {
        // A message longer than one buffer continues in the next; with no buffer queued the
        // rest is lost, as with any driver.
        size_t done = 0;
        while (done < size) {
            MidiHdr* hdr = PopFree();
            if (hdr == nullptr) return;
            const size_t n = std::min<size_t>(size - done, hdr->dwBufferLength);
            std::memcpy(hdr->lpData, bytes + done, n);
            done += n;
            hdr->dwBytesRecorded = static_cast<uint32_t>(n);
            hdr->dwFlags = (hdr->dwFlags & ~kMhdrInQueue) | kMhdrDone;
            Proc_(MidiInMsg::LongData, Instance_, reinterpret_cast<uintptr_t>(hdr), time);
        }
    }

    MidiInProc Proc_;
    void* Instance_;
    std::unique_ptr<RtMidiIn> In_;
    jack_client_t* Jack_ = nullptr;
    jack_port_t* JackPort_ = nullptr;
    JackClientUser JackUser_; // the port's hooks into the kept client's callbacks
    std::atomic<bool> JackGone_{false};
    ErrorSink Sink_;
    std::atomic<bool> Started_{false};
    std::atomic<int> InFlight_{0};
    std::atomic<MidiHdr*> Free_{nullptr};
    std::chrono::steady_clock::time_point StartTime_{};
};

} // namespace

RtMidiInService::RtMidiInService(std::string clientName, std::string portName, std::vector<Api> apis)
    : ClientName_(std::move(clientName)), PortName_(std::move(portName)), Apis_(std::move(apis)) {}

void RtMidiInService::Enumerate(Api api) {
    const Entry own{api, true, {}, "Zelvox MIDI input (" + std::string(ApiLabel(api)) + ")"};
    if (api == Api::Jack) {
        std::string why;
        std::vector<std::string> sources;
        if (!JackMidiSources(sources, why)) {
            Unavailable_.push_back(why);
            return;
        }
        Devices_.push_back(own);
        for (const std::string& name : sources) Devices_.push_back({api, false, name, name});
        return;
    }
    try {
        ErrorSink sink;
        RtMidiIn in(ToRt(api), ClientName_ + "_list");
        in.setErrorCallback(&ErrorSink::Callback, &sink);
        std::vector<Entry> found{own};
        const unsigned n = in.getPortCount();
        for (unsigned i = 0; i < n && !sink.Failed; ++i) {
            std::string name = in.getPortName(i);
            found.push_back({api, false, name, name});
        }
        if (sink.Failed) {
            Unavailable_.push_back(std::string(ApiLabel(api)) + ": " + sink.Text);
            return;
        }
        Devices_.insert(Devices_.end(), found.begin(), found.end());
    } catch (const RtMidiError& err) {
        // The ALSA sequencer throws here when /dev/snd/seq does not exist.
        Unavailable_.push_back(std::string(ApiLabel(api)) + ": " + err.getMessage());
    }
}

uint16_t RtMidiInService::GetNumDevs() {
    Devices_.clear();
    Unavailable_.clear();
    for (Api api : Apis_) Enumerate(api);
    if (Devices_.size() > 0xFFFF) Devices_.resize(0xFFFF);
    return static_cast<uint16_t>(Devices_.size());
}

std::string RtMidiInService::NoDeviceReason() const {
    std::string text;
    for (const std::string& why : Unavailable_) text += (text.empty() ? "" : "; ") + why;
    return text;
}

MidiResult RtMidiInService::GetDevCaps(uint16_t deviceId, MidiInCaps& caps) {
    if (deviceId >= Devices_.size()) return kMidiErrBadDeviceId;
    const Entry& e = Devices_[deviceId];
    caps.ProductName = e.Name;
    caps.ManufacturerID = 0;
    caps.ProductID = static_cast<uint16_t>(e.Which == Api::Jack ? 1 : 2);
    caps.DriverVersion = 0x0500; // RtMidi 5.0
    return kMidiNoError;
}

std::string RtMidiInService::GetErrorText(MidiResult code) {
    if (code == LastCode_ && !LastText_.empty()) return LastText_;
    return StandardMidiErrorText(code);
}

void RtMidiInService::Fail(MidiResult code, const std::string& text) {
    LastCode_ = code;
    LastText_ = text;
}

MidiResult RtMidiInService::Open(uint16_t deviceId, MidiInProc proc, void* instance,
                                 std::unique_ptr<MidiInPort>& port) {
    if (deviceId >= Devices_.size()) return kMidiErrBadDeviceId;
    auto p = std::make_unique<RtPort>(proc, instance);
    std::string text;
    const MidiResult r = p->OpenPort(Devices_[deviceId], ClientName_, PortName_, text);
    if (r != kMidiNoError) {
        Fail(r, text);
        return r;
    }
    proc(MidiInMsg::Open, instance, 0, 0);
    port = std::move(p);
    return kMidiNoError;
}

} // namespace zelvox
