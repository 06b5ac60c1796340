#pragma once
// The program's JACK clients, opened once and kept.
//
// libjack can hang for good in jack_client_close: closing first cancels the client's
// notification thread, and when another program opens or closes a client on the same server
// at that moment, that thread dies holding libjack's process-wide lock, which the close then
// waits on for ever, and so does every open after it. So the program opens as few clients as
// it can and never closes one between two uses: one kept client per name and server answers
// the program's questions about the server and does its work (the outputs register their
// ports on it when they start and unregister them when they stop). A client is closed only
// when its server has gone or the program ends. Every open, activation and close runs on a
// thread of its own that the program gives up after a bound; once one has not returned, JACK
// is stuck for this process and the program says so instead of waiting.

#include <atomic>
#include <functional>
#include <string>

#include <jack/jack.h>

namespace zelvox {

// How long a close may take before the program goes on without it (ms).
inline constexpr unsigned kJackCloseTimeoutMs = 2000;
// How long an open or an activation may take before the program calls JACK stuck (ms). A
// busy server takes tens of milliseconds; seconds mean libjack waits on a lock no one frees.
inline constexpr unsigned kJackOpenTimeoutMs = 4000;

// What the program says when a libjack call did not return within its bound.
std::string JackStuckText();

// A libjack call of the program's did not return within its bound: libjack's process-wide
// lock is taken for good, and no client of this process opens or closes again.
bool JackStuck();

// Calls into libjack that have not returned (yet); a program that has any ends with _exit,
// because libjack's own teardown at exit would wait on the same lock.
int JackCallsHanging();

// One user's hooks into a kept client's callbacks (a client's callbacks can only be set
// before it is activated, so the client's own callbacks pass each period on to whoever is
// attached). They run on JACK's threads; Arg is passed to each. The hooks outlive the time
// they are attached.
struct JackClientUser {
    JackProcessCallback Process = nullptr;
    JackXRunCallback Xrun = nullptr;
    JackLatencyCallback Latency = nullptr; // not called on PipeWire's libjack (JackIsPipeWire)
    JackSampleRateCallback SampleRate = nullptr; // the server changed its rate (notification thread)
    void (*Shutdown)(void* arg) = nullptr; // the server shut the client down
    void* Arg = nullptr;
};

enum class JackAttach { Ok, NoServer, Refused, NotStarted, Stuck };

// The text for a failed attach ("" for Ok).
std::string JackAttachProblem(JackAttach result);

// The program's kept client called Name on the server JACK_DEFAULT_SERVER names now (never
// starting one), opened and activated when there is none or the one there lost its server
// (each step bounded), in Client on Ok. While attached, the client is not closed unless its
// server goes; each attach is matched by a DetachJackClient.
JackAttach AttachJackClient(const std::string& name, jack_client_t*& client);

// Ends an attach. A client whose server has gone, or that the user Retires (its play failed
// while the server was there: the client is not trusted again), is closed (bounded) when its
// last user leaves; else it stays open for the next.
void DetachJackClient(jack_client_t* client, bool retire = false);

// Hooks User into Client's callbacks (an attached client; its ports registered first, as the
// hooks may run at once). False when the client has four users already.
bool AddJackUser(jack_client_t* client, const JackClientUser* user);

// Unhooks User: true when no callback reaches it any more; false when one did not finish
// within a second (then User must be left alive).
bool RemoveJackUser(jack_client_t* client, const JackClientUser* user);

// Whether the server shut Client (a kept client) down.
bool JackClientGone(jack_client_t* client);

// Runs Fn with a client of the server JACK_DEFAULT_SERVER names now: a kept client of the
// program's on that server, else one opened now under the program's name (SetJackProgramName)
// and kept. Calls are serialised. False (Fn not called) when no server answers or JACK is
// stuck.
bool WithJackListClient(const std::function<void(jack_client_t*)>& fn);

// The name the program's client has on the server, for the questions asked before anything
// plays (the outputs attach under the same name and so use the same client).
void SetJackProgramName(const std::string& name);

// Closes the kept clients that have no user now (bounded), e.g. before a test opens a client
// of its own in this process.
void ReleaseJackListClient();

// Closes every kept client now (bounded), as the program ends.
void CloseJackClients();

// True when the libjack in use is PipeWire's (programs started through pw-jack).
bool JackIsPipeWire();

// Quietens libjack's own messages ("Cannot connect to server socket" and the like) when a
// probe finds no server; the program says what went wrong itself.
void SilenceJackMessages();

} // namespace zelvox
