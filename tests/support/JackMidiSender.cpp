#include "support/JackMidiSender.h"

#include <stdexcept>
#include <thread>

#include <jack/midiport.h>

namespace zelvox::test {

JackMidiSender::JackMidiSender(const std::string& clientName) {
    jack_status_t status{};
    Client_ = jack_client_open(clientName.c_str(), JackNoStartServer, &status);
    if (Client_ == nullptr) throw std::runtime_error("JACK server not running");
    Port_ = jack_port_register(Client_, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    if (Port_ == nullptr || jack_set_process_callback(Client_, &Process, this) != 0 ||
        jack_set_xrun_callback(Client_, &Xrun, this) != 0 || jack_activate(Client_) != 0) {
        jack_client_close(Client_);
        throw std::runtime_error("JACK MIDI sender could not start");
    }
}

JackMidiSender::~JackMidiSender() {
    jack_deactivate(Client_);
    jack_client_close(Client_);
}

std::string JackMidiSender::PortName() const { return jack_port_name(Port_); }

bool JackMidiSender::Connect(const std::string& destination) {
    return jack_connect(Client_, jack_port_name(Port_), destination.c_str()) == 0;
}

void JackMidiSender::Send(const std::vector<std::vector<uint8_t>>& messages) {
    // Withdraw the old batch, then let two periods pass so that no callback still reads it.
    Total_.store(0, std::memory_order_seq_cst);
    const size_t p = Periods_.load(std::memory_order_seq_cst);
    while (Periods_.load(std::memory_order_seq_cst) < p + 2)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    Next_.store(0, std::memory_order_seq_cst);
    Bytes_.clear();
    Ends_.clear();
    for (const auto& m : messages) {
        Bytes_.insert(Bytes_.end(), m.begin(), m.end());
        Ends_.push_back(Bytes_.size());
    }
    Total_.store(Ends_.size(), std::memory_order_release);
}

bool JackMidiSender::WaitSent(std::chrono::milliseconds timeout) const {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (Next_.load(std::memory_order_acquire) < Total_.load(std::memory_order_acquire)) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

int JackMidiSender::Process(jack_nframes_t nframes, void* arg) {
    auto* self = static_cast<JackMidiSender*>(arg);
    void* buffer = jack_port_get_buffer(self->Port_, nframes);
    jack_midi_clear_buffer(buffer);
        const size_t total = self->Total_.load(std::memory_order_seq_cst);
    size_t i = self->Next_.load(std::memory_order_relaxed);
    while (i < total) {
        const size_t begin = i == 0 ? 0 : self->Ends_[i - 1];
        const size_t size = self->Ends_[i] - begin;
        // When the port buffer is full the rest go out next period (asking first keeps JACK
        // from printing a complaint for every refused write).
        if (jack_midi_max_event_size(buffer) < size) break;
        if (jack_midi_event_write(buffer, 0, self->Bytes_.data() + begin, size) != 0) break;
        ++i;
    }
    self->Next_.store(i, std::memory_order_release);
    self->Periods_.fetch_add(1, std::memory_order_seq_cst);
    return 0;
}

int JackMidiSender::Xrun(void* arg) {
    static_cast<JackMidiSender*>(arg)->Xruns_.fetch_add(1, std::memory_order_acq_rel);
    return 0;
}

} // namespace zelvox::test
