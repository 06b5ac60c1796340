#pragma once
// The program's JACK clients, opened and closed the careful way.
//
// libjack can hang for good in jack_client_close: closing first cancels the client's
// notification thread, and when another program opens or closes a client on the same server
// at that moment, that thread dies holding libjack's process-wide lock, which the close then
// waits on for ever. So the program opens as few clients as it can (one kept listing client
// for every question about the server, one client per open device or service, kept while it
// is open) and closes each through CloseJackClient, which gives up after a bound.

#include <atomic>
#include <functional>
#include <string>

#include <jack/jack.h>

namespace zelvox {

// How long a close may take before the program goes on without it.
inline constexpr unsigned kJackCloseTimeoutMs = 2000;

// Deactivates (when asked) and closes Client on a thread of its own and waits for it at most
// TimeoutMs. True when it returned; false when it did not: the client is then left to the
// process's end, and the first such close prints one line on stderr. Null is a no-op (true).
bool CloseJackClient(jack_client_t* client, bool deactivate,
                     unsigned timeoutMs = kJackCloseTimeoutMs);

// Closes that have not returned (yet); a program that has any ends with _exit, because
// libjack's own teardown at exit would wait on the same lock.
int JackClosesHanging();

// Opens a client of the program's that does work (plays, takes MIDI) on the server
// JACK_DEFAULT_SERVER names, never starting one. While it is open it also answers the
// program's questions about the server, and the listing client is closed first: two clients
// of one process on one server can trip over each other in libjack (one of them handles
// another program's leaving late, after the other took over its slot, and takes the new
// client's wake-up from under it). Gone, when given, is the owner's flag that the server
// shut the client down (set by its shutdown callback); a gone client answers nothing.
jack_client_t* OpenJackClient(const std::string& name, jack_status_t& status,
                              const std::atomic<bool>* gone = nullptr);

// Runs Fn with a client of the server JACK_DEFAULT_SERVER names now: an open working client
// of the program's, else the listing client (opened at the first question, kept, opened
// again when its server went away or another server is meant). Calls are serialised. False (Fn not called) when no server answers.
bool WithJackListClient(const std::function<void(jack_client_t*)>& fn);

// Closes the listing client now (bounded), e.g. before a client of another kind is opened
// in this process.
void ReleaseJackListClient();

// Quietens libjack's own messages ("Cannot connect to server socket" and the like) when a
// probe finds no server; the program says what went wrong itself.
void SilenceJackMessages();

} // namespace zelvox
