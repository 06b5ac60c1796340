// zelvox-render: renders a pattern file (or the start-up patterns) to a WAV file without a
// window or a sound device, running exactly the code the desktop program runs; with --play
// it plays them through the sound device in real time instead.

#include <charconv>
#include <csignal>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <exception>
#include <string>
#include <unistd.h>

#include "devices/AudioBackend.h"
#include "devices/JackClient.h"
#include "files/MMWave.h"
#include "settings/Settings.h"
#include "program/ExampleBank.h"
#include "program/LivePlayer.h"
#include "program/MidiFileExport.h"
#include "program/HeadlessPlayer.h"
#include "program/SynthRenderer.h"
#include "program/StopSignals.h"
#include "sequencer/PatternDice.h"
#include "dsp/RateStage.h"

namespace {

// The text --help prints before and after the options.
constexpr const char* kSynopsis =
    "usage: zelvox-render [FILE.zvx] [--arranger | --pattern N] [--buffers N | --seconds S]\n"
    "                     [-o OUT.wav|.flac|.ogg] [--bits 16|24] [--stems DIR] [--rate HZ]\n"
    "                     [--swing PCT]\n"
    "                     [--randomise SEED] [--mutate SEED,AMOUNT] [--scale NAME]\n"
    "                     [--notes LOW-HIGH] [--lock LIST] [--save OUT.zvx]\n"
    "                     [--midi-file OUT.mid [--notes-channels B,T,N] [--drum-notes T,N]]\n"
    "       zelvox-render --example NAME [the options above]\n"
    "       zelvox-render --list-examples\n"
    "       zelvox-render --play [FILE.zvx | --example NAME] [--arranger | --pattern N]\n"
    "                     [--buffers N | --seconds S] [--start-delay MS] [--no-connect]\n"
    "                     [--live [--follow-transport | --follow-clock] [--send-clock]\n"
    "                      [--timebase-master] [--notes-in CHANNEL[,ROOT]]\n"
    "                      [--pattern-notes FIRST] [--notes-out\n"
    "                      [--notes-channels B,T,N] [--drum-notes T,N]]] [--swing PCT]\n"
    "\n"
    "Renders Zelvox's output to a WAV file (PCM, mono, 16 bits, 44100 Hz unless --rate says\n"
    "otherwise), faster than real time and without a sound device. The program starts with\n"
    "its start-up patterns; FILE, if given, is then loaded as File > Load pattern does.\n"
    "\n";
constexpr const char* kUsageEnd =
    "\n"
    "A render needs -o, --stems or both; on a terminal it shows its progress every 5 s of\n"
    "sound.\n"
    "\n"
    "Exit status 0 on success, 1 when rendering or playing failed (e.g. \"No wave audio\n"
    "playing device found\"), 2 for bad options. On failure no output file is left behind,\n"
    "neither the mix nor any stem. A file is written under a hidden name beside it and\n"
    "renamed when complete; a device, a pipe or - gets a stream whose header carries the\n"
    "exact sizes (the same bytes as a file) when the length is known, or the largest sizes\n"
    "with --arranger.\n"
    "\n"
    "Ctrl-C, SIGTERM and SIGHUP stop it: a render removes its unfinished files and exits\n"
    "with 130, 143 or 129; a player stops and exits with 0. A second signal, or the first\n"
    "once 2 s have passed without the program ending, ends it at once.\n";

constexpr int64_t kMaxBuffers = 1'000'000'000; // 10^7 s, about 116 days

struct Options {
    std::string File, Out, Stems;
    bool Arranger = false;
    bool Play = false;
    bool Live = false, FollowTransport = false, FollowClock = false, SendClock = false;
    bool TimebaseMaster = false;
    bool NoConnect = false;
    int32_t Pattern = 0;  // 0: not given (pattern 1 loops)
    int64_t Buffers = -1; // -1: not given (1000 for a render, no limit for --play)
    bool BuffersGiven = false, SecondsGiven = false;
    int32_t StartDelayMs = 0;
    uint32_t Rate = 44100; // Hz of the files written
    int32_t Bits = 16;     // --bits: of a WAV or FLAC file
    int32_t Swing = 0;     // percent of a step
    bool Randomise = false, Mutate = false;
    uint64_t RandomSeed = 0, MutateSeed = 0;
    int32_t MutateAmount = 0;
    zelvox::DiceOptions Dice;
    std::string Save; // the pattern file to write; empty: none
    std::string MidiFile; // --midi-file: the MIDI file to write; empty: none
    zelvox::NotesInSetup NotesIn; // --notes-in, --pattern-notes (with --live)
    zelvox::LiveSync Notes;       // --notes-out, --notes-channels, --drum-notes (with --live)
    bool NotesGiven = false;
    bool ListExamples = false;
    std::string Example; // --example NAME: the bank's file; empty: none
};

// A whole number in lo..hi, all of `v`.
template <class T> bool WholeIn(const std::string& v, T lo, T hi, T& out) {
    T n{};
    const auto r = std::from_chars(v.data(), v.data() + v.size(), n);
    if (r.ec != std::errc() || r.ptr != v.data() + v.size() || n < lo || n > hi) return false;
    out = n;
    return true;
}

// Seconds as a decimal number ("90", "2.5", ".75") to 10 ms buffers, rounded up. Read digit
// by digit rather than through a double, so that 0.07 s is 7 buffers, not 8. 0 when the text
// is not such a number or the result lies outside 1..kMaxBuffers.
int64_t SecondsToBuffers(const std::string& v) {
    const size_t dot = v.find('.');
    const std::string whole = v.substr(0, dot);
    const std::string frac = dot == std::string::npos ? std::string() : v.substr(dot + 1);
    if (whole.empty() && frac.empty()) return 0;
    for (const std::string* part : {&whole, &frac})
        for (char c : *part)
            if (c < '0' || c > '9') return 0;
    int64_t buffers = 0;
    for (char c : whole) {
        buffers = buffers * 10 + (c - '0') * 100;
        if (buffers > kMaxBuffers) return 0;
    }
    for (size_t i = 0; i < frac.size(); ++i) {
        if (i < 2)
            buffers += (frac[i] - '0') * (i == 0 ? 10 : 1);
        else if (frac[i] != '0') {
            ++buffers; // a part of a buffer counts as a whole one
            break;
        }
    }
    return buffers >= 1 && buffers <= kMaxBuffers ? buffers : 0;
}

// Whole numbers in lo..hi, one per field, with a comma between: all of `v`.
template <size_t N> bool WholeList(const std::string& v, int32_t lo, int32_t hi, int32_t* (&fields)[N]) {
    size_t from = 0;
    for (size_t n = 0; n < N; ++n) {
        const size_t comma = n + 1 < N ? v.find(',', from) : v.size();
        if (comma == std::string::npos || !WholeIn<int32_t>(v.substr(from, comma - from), lo, hi, *fields[n]))
            return false;
        from = comma + 1;
    }
    return true;
}

// The options: the names --help lists them by (", " between), the value's name (none for a
// switch), the help text (its lines) and what taking the option does: "" or the error.
struct OptionRow {
    const char* Names;
    const char* Value;
    const char* Help;
    std::string (*Take)(Options& o, const std::string& v);
    const char* Hidden = nullptr; // one more name, not listed
};

const OptionRow kOptions[] = {
    {"-o, --output", "OUT.wav",
     "the file to write; replaced only when complete (a link stays\n"
     "a link: the file it names is replaced). A device (/dev/null)\n"
     "or a named pipe is written to directly, never replaced, and\n"
     "- is the standard output (zelvox-render -o - | sox -t wav - ...)",
     [](Options& o, const std::string& v) -> std::string {
         if (v.empty()) return "the output file name is empty";
         o.Out = v;
         return "";
     }},
    {"--bits", "16|24",
     "the bits of a WAV or FLAC file (default 16). The format\n"
     "comes from -o's extension: .flac FLAC (lossless: the\n"
     "16-bit WAV's samples exactly), .ogg Ogg Vorbis (lossy),\n"
     "anything else WAV; the stems take the mix's format and\n"
     "extension (WAV without -o). FLAC, Ogg and 24 bits are\n"
     "encoded from the finished render, so they go to files only",
     [](Options& o, const std::string& v) -> std::string {
         if (v != "16" && v != "24") return "--bits wants 16 or 24, not '" + v + "'";
         o.Bits = v == "16" ? 16 : 24;
         return "";
     }},
    {"--stems", "DIR",
     "also (or, without -o, only) write one file per voice into the\n"
     "folder DIR (made if missing): bass.wav, twin-t.wav and\n"
     "noise.wav, each the voice alone, dry, through the master\n"
     "volume, and echo.wav, the echo's return (its wet part). Same\n"
     "format and length as the mix, sample-aligned; where neither\n"
     "the mix nor a stem clips, the four add up to the mix within\n"
     "1 per stem. The mix is the same with or without --stems",
     [](Options& o, const std::string& v) -> std::string {
         if (v.empty()) return "the stems folder name is empty";
         o.Stems = v;
         return "";
     }},
    {"--rate", "HZ",
     "write the files at HZ samples a second (22050 to 192000;\n"
     "default 44100, the rate the sound is made at). At any other\n"
     "rate the 44100 Hz render is converted (libsoxr, 20-bit\n"
     "quality, no delay); the stems follow it. Files only, not a\n"
     "device, a pipe or standard output",
     [](Options& o, const std::string& v) -> std::string {
         uint32_t hz = 0;
         const auto r = std::from_chars(v.data(), v.data() + v.size(), hz);
         const bool whole = r.ec == std::errc() && r.ptr == v.data() + v.size();
         if (!whole || (hz != 44100 && !zelvox::CheckHostRate(hz).empty()))
             return "--rate wants a whole number of Hz from 22050 to 192000, not '" + v + "'";
         o.Rate = hz;
         return "";
     }},
    {"--list-examples", nullptr,
     "print the names of the factory bank's pattern files, one a\n"
     "line, and end",
     [](Options& o, const std::string&) -> std::string {
         o.ListExamples = true;
         return "";
     }},
    {"--example", "NAME",
     "use the factory bank's pattern file NAME instead of FILE (it\n"
     "is only read). A song (its first phrase set) plays through\n"
     "the arranger unless --pattern says otherwise, to its end\n"
     "(at most 10 minutes) unless --buffers or --seconds says\n"
     "otherwise; without -o, --stems or --save the render goes to\n"
     "NAME.wav in the current folder",
     [](Options& o, const std::string& v) -> std::string {
         if (v.empty())
             return "--example wants the name of a pattern file of the factory bank "
                    "(--list-examples prints them)";
         o.Example = v;
         return "";
     }},
    {"--arranger", nullptr,
     "play the song of the Arranger page (\"Play\") instead of\n"
     "looping pattern 1 on the Bass page (\"Loop\"); rendering stops\n"
     "after the buffer in which the song ends",
     [](Options& o, const std::string&) -> std::string {
         o.Arranger = true;
         return "";
     }},
    {"--pattern", "N",
     "loop pattern N (1 to 16) instead of pattern 1, as if its\n"
     "pattern button was pressed before \"Loop\"; not with --arranger",
     [](Options& o, const std::string& v) -> std::string {
         if (!WholeIn<int32_t>(v, 1, 16, o.Pattern))
             return "--pattern wants a pattern number from 1 to 16, not '" + v + "'";
         return "";
     }},
    {"--buffers", "N",
     "render at most N buffers of 441 samples (10 ms); default 1000\n"
     "(with --play: no limit)",
     [](Options& o, const std::string& v) -> std::string {
         if (!WholeIn<int64_t>(v, 1, kMaxBuffers, o.Buffers))
             return "--buffers wants a whole number from 1 to 1000000000, not '" + v + "'";
         o.BuffersGiven = true;
         return "";
     }},
    {"--seconds", "S",
     "instead of --buffers: at most S seconds (a decimal number\n"
     "above 0, at most 10000000), rounded up to whole 10 ms buffers.\n"
     "A WAV file holds at most 6 hours 45 minutes (2 GiB): a longer\n"
     "render is refused before it starts (with --arranger it fails\n"
     "if the song gets there)",
     [](Options& o, const std::string& v) -> std::string {
         const int64_t n = SecondsToBuffers(v);
         if (n == 0)
             return "--seconds wants a decimal number of seconds above 0 and at most 10000000, "
                    "not '" + v + "'";
         o.Buffers = n;
         o.SecondsGiven = true;
         return "";
     }},
    {"--swing", "PCT",
     "every second sixteenth begins PCT percent of a step late\n"
     "(0 to 75; default 0, straight). Pattern and song lengths stay\n"
     "the same. Also with --play and --live (the JACK transport's\n"
     "grid and MIDI clock too)",
     [](Options& o, const std::string& v) -> std::string {
         if (!WholeIn<int32_t>(v, 0, zelvox::Sequencer::kMaxSwing, o.Swing))
             return "--swing wants a whole percent from 0 to 75, not '" + v + "'";
         return "";
     }},
    {"--randomise", "SEED",
     "make a new pattern in the pattern played (1, or --pattern N)\n"
     "from SEED (0 to 18446744073709551615): bass notes of the scale\n"
     "in the range, rests and slides, Twin-T and noise hits, one\n"
     "sound per voice. The same seed gives the same bytes on every\n"
     "machine",
     [](Options& o, const std::string& v) -> std::string {
         if (!WholeIn<uint64_t>(v, 0, UINT64_MAX, o.RandomSeed))
             return "--randomise wants a seed, a whole number from 0 to "
                    "18446744073709551615, not '" + v + "'";
         o.Randomise = true;
         return "";
     }, "--randomize"},
    {"--mutate", "SEED,AMOUNT",
     "change AMOUNT percent (0 to 100) of that pattern's 16 steps a\n"
     "little (after --randomise when both are given)",
     [](Options& o, const std::string& v) -> std::string {
         const size_t comma = v.find(',');
         if (comma == std::string::npos ||
             !WholeIn<uint64_t>(v.substr(0, comma), 0, UINT64_MAX, o.MutateSeed) ||
             !WholeIn<int32_t>(v.substr(comma + 1), 0, 100, o.MutateAmount))
             return "--mutate wants SEED,AMOUNT: a seed (a whole number from 0) and a "
                    "percent from 0 to 100, not '" + v + "'";
         o.Mutate = true;
         return "";
     }},
    {"--scale", "NAME",
     "minor (default), major, pentatonic or chromatic",
     [](Options& o, const std::string& v) -> std::string {
         if (!zelvox::ParseScale(v, o.Dice.Scale))
             return "--scale wants minor, major, pentatonic or chromatic, not '" + v + "'";
         return "";
     }},
    {"--notes", "LOW-HIGH",
     "the bass notes' range, 1 to 37 as the note sliders count\n"
     "(default 1-25); LOW is the scale's root",
     [](Options& o, const std::string& v) -> std::string {
         const size_t dash = v.find('-');
         if (dash == std::string::npos || !WholeIn<int32_t>(v.substr(0, dash), 1, 37, o.Dice.Low) ||
             !WholeIn<int32_t>(v.substr(dash + 1), o.Dice.Low, 37, o.Dice.High))
             return "--notes wants LOW-HIGH, two notes from 1 to 37 with LOW at most HIGH, "
                    "not '" + v + "'";
         return "";
     }},
    {"--lock", "LIST",
     "keep these unchanged, a comma list of bass-notes, bass-sound,\n"
     "twin-t, noise (voices) and notes, play, knobs (rows)",
     [](Options& o, const std::string& v) -> std::string {
         std::string why;
         if (!zelvox::ParseLocks(v, o.Dice.Locks, why)) return "--lock: " + why;
         return "";
     }},
    {"--save", "OUT.zvx",
     "write the patterns (randomised or mutated) to a pattern file,\n"
     "replacing it when complete; without -o and --stems nothing\n"
     "is rendered",
     [](Options& o, const std::string& v) -> std::string {
         if (v.empty()) return "the pattern file name to save is empty";
         o.Save = v;
         return "";
     }},
    {"--midi-file", "OUT.mid",
     "write what plays as a Standard MIDI File (type 1, 960 ticks\n"
     "a quarter note): a tempo track and a track each for the bass,\n"
     "Twin-T and noise, the notes --notes-out would send (their\n"
     "channels and drum notes from --notes-channels and\n"
     "--drum-notes), each at the tick nearest its frame; replaced\n"
     "only when complete. Without -o and --stems nothing else is\n"
     "rendered",
     [](Options& o, const std::string& v) -> std::string {
         if (v.empty()) return "the MIDI file name to write is empty";
         o.MidiFile = v;
         return "";
     }},
    {"--play", nullptr,
     "play through the sound device in real time instead of writing\n"
     "a file, with the desktop program's chain and output device and\n"
     "the sound output chosen in its settings file (ZLVX3.INI,\n"
     "section [Audio], keys API and Device); stops after N buffers,\n"
     "at the song's end, or on Ctrl-C. Prints the number of\n"
     "underruns when the device ran dry",
     [](Options& o, const std::string&) -> std::string {
         o.Play = true;
         return "";
     }},
    {"--start-delay", "MS",
     "with --play: open the device MS milliseconds before starting,\n"
     "so that a recorder can connect to it first; default 0 (also\n"
     "with --live: the output is there, silent, for that long)",
     [](Options& o, const std::string& v) -> std::string {
         if (!WholeIn<int32_t>(v, 0, 600'000, o.StartDelayMs))
             return "--start-delay wants milliseconds from 0 to 600000, not '" + v + "'";
         return "";
     }},
    {"--no-connect", nullptr,
     "with --play on JACK: leave the output's ports unconnected. By\n"
     "default they connect to the first two physical playback ports\n"
     "(the speakers; on PipeWire the default sink), a mono output to\n"
     "both; [Audio] Connect=0 in the settings file does the same",
     [](Options& o, const std::string&) -> std::string {
         o.NoConnect = true;
         return "";
     }},
    {"--live", nullptr,
     "with --play: play through the low-latency JACK output: the\n"
     "synth renders in the JACK process callback, so MIDI\n"
     "controllers are heard within a JACK period; prints the\n"
     "periods played (their sizes), the seconds, the server's rate\n"
     "and xruns at the end. --seconds and --buffers count the\n"
     "server's time, whatever its rate and period size do",
     [](Options& o, const std::string&) -> std::string {
         o.Live = true;
         return "";
     }},
    {"--follow-transport", nullptr,
     "with --live: start, stop and jump with the JACK transport\n"
     "on its sixteenth-note grid instead of starting at once",
     [](Options& o, const std::string&) -> std::string {
         o.FollowTransport = true;
         return "";
     }},
    {"--follow-clock", nullptr,
     "with --live: play on the MIDI clock that comes into\n"
     "zelvox:midi_in (Start, Stop, Continue, Song Position)",
     [](Options& o, const std::string&) -> std::string {
         o.FollowClock = true;
         return "";
     }},
    {"--send-clock", nullptr,
     "with --live: send MIDI clock, Start and Stop from the\n"
     "transport on zelvox:midi_out",
     [](Options& o, const std::string&) -> std::string {
         o.SendClock = true;
         return "";
     }},
    {"--timebase-master", nullptr,
     "with --live: be the JACK transport's timebase master, giving\n"
     "bar, beat and tick at Zelvox's tempo, four beats to the bar",
     [](Options& o, const std::string&) -> std::string {
         o.TimebaseMaster = true;
         return "";
     }},
    {"--notes-in", "CHANNEL[,ROOT]",
     "with --live: a note on MIDI channel CHANNEL (1 to 16) at\n"
     "zelvox:midi_in transposes the bass from the next step by its\n"
     "distance from ROOT (0 to 127, default 60, middle C); notes\n"
     "beyond the note range fold back by octaves",
     [](Options& o, const std::string& v) -> std::string {
         const size_t comma = v.find(',');
         int32_t channel = 0;
         if (!WholeIn<int32_t>(v.substr(0, comma), 1, 16, channel) ||
             (comma != std::string::npos && !WholeIn<int32_t>(v.substr(comma + 1), 0, 127, o.NotesIn.Root)))
             return "--notes-in wants CHANNEL[,ROOT]: a MIDI channel from 1 to 16 and a root "
                    "note from 0 to 127 (60 when left out), not '" + v + "'";
         o.NotesIn.Channel = channel - 1;
         o.NotesIn.Transpose = true;
         return "";
     }},
    {"--pattern-notes", "FIRST",
     "with --live: the 16 notes from FIRST (0 to 112) on that\n"
     "channel (1 without --notes-in) choose patterns 1 to 16, as\n"
     "the pattern buttons do",
     [](Options& o, const std::string& v) -> std::string {
         if (!WholeIn<int32_t>(v, 0, 112, o.NotesIn.FirstPattern))
             return "--pattern-notes wants the note that chooses pattern 1, from 0 to 112, "
                    "not '" + v + "'";
         o.NotesIn.Patterns = true;
         return "";
     }},
    {"--notes-out", nullptr,
     "with --live: send the pattern as MIDI notes on\n"
     "zelvox:midi_out, each at the frame its step begins: the bass\n"
     "(note n of the sliders as MIDI note n + 24, its Length as the\n"
     "note's, a slide as the next note on before the held one's\n"
     "off), the Twin-T and noise hits as notes of their own",
     [](Options& o, const std::string&) -> std::string {
         o.Notes.SendNotes = o.NotesGiven = true;
         return "";
     }},
    {"--notes-channels", "B,T,N",
     "the MIDI channels (1 to 16) of the bass, Twin-T and noise\n"
     "notes; default 1,10,10",
     [](Options& o, const std::string& v) -> std::string {
         int32_t* fields[] = {&o.Notes.NotesBassChannel, &o.Notes.NotesTwinTChannel,
                             &o.Notes.NotesNoiseChannel};
         if (!WholeList(v, 1, 16, fields))
             return "--notes-channels wants BASS,TWINT,NOISE: three MIDI channels from 1 to 16, "
                    "not '" + v + "'";
         o.NotesGiven = true;
         return "";
     }},
    {"--drum-notes", "T,N",
     "the notes (0 to 127) the Twin-T and noise hits send; default\n"
     "36,42 (bass drum and closed hi-hat on a General MIDI kit)",
     [](Options& o, const std::string& v) -> std::string {
         int32_t* fields[] = {&o.Notes.NotesTwinTNote, &o.Notes.NotesNoiseNote};
         if (!WholeList(v, 0, 127, fields))
             return "--drum-notes wants TWINT,NOISE: two MIDI notes from 0 to 127, not '" + v + "'";
         o.NotesGiven = true;
         return "";
     }},
};

const OptionRow* FindOption(const std::string& name) {
    for (const OptionRow& row : kOptions) {
        if (row.Hidden && name == row.Hidden) return &row;
        const std::string names = row.Names;
        for (size_t from = 0; from <= names.size();) {
            const size_t comma = std::min(names.find(", ", from), names.size());
            if (names.compare(from, comma - from, name) == 0) return &row;
            from = comma + 2;
        }
    }
    return nullptr;
}

// --help: the synopsis, every option with its help from column 24, and the rest.
std::string UsageText() {
    std::string text = kSynopsis;
    auto row = [&text](const std::string& label, const std::string& help) {
        std::string line = "  " + label;
        line.append(line.size() < 24 ? 24 - line.size() : 2, ' ');
        for (size_t from = 0; from <= help.size();) {
            const size_t end = std::min(help.find('\n', from), help.size());
            text += line + help.substr(from, end - from) + "\n";
            line.assign(24, ' ');
            from = end + 1;
        }
    };
    for (const OptionRow& o : kOptions)
        row(std::string(o.Names) + (o.Value ? std::string(" ") + o.Value : ""), o.Help);
    row("-h, --help", "show this text");
    return text + kUsageEnd;
}

// A render stopped by a signal: the part files are gone, the exit status names the signal.
struct Interrupted {
    int Signal;
};

int Fail(int code, const std::string& message) {
    std::fprintf(stderr, "zelvox-render: %s\n", message.c_str());
    return code;
}

// Returns 0 to go on, -1 after --help, or the exit code of a bad option.
int Parse(int argc, char** argv, Options& o, std::string& error) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "-h" || a == "--help") return -1;
        const size_t eq = a.find('=');
        const OptionRow* row = FindOption(a.substr(0, eq));
        if (row && !row->Value && eq != std::string::npos) row = nullptr; // a switch takes no value
        if (!row) {
            if (a.size() > 1 && a[0] == '-') {
                error = "unknown option '" + a + "' (see --help)";
                return 2;
            }
            if (!o.File.empty()) {
                error = "more than one pattern file given ('" + o.File + "', '" + a + "')";
                return 2;
            }
            o.File = a;
            continue;
        }
        std::string v;
        if (row->Value && eq != std::string::npos) {
            v = a.substr(eq + 1);
        } else if (row->Value) {
            // An option next ("--swing --save x.zvx") means the value was left out; "-o" is the
            // one short option that takes a value, "-" alone is a value (standard output).
            const std::string next = i + 1 < argc ? argv[i + 1] : "";
            if (i + 1 >= argc || next.rfind("--", 0) == 0 || next == "-o" || next == "-h") {
                error = a + " needs a value";
                return 2;
            }
            v = argv[++i];
        }
        error = row->Take(o, v);
        if (!error.empty()) return 2;
    }
    if (o.ListExamples) return 0;
    if (!o.Example.empty()) {
        if (!o.File.empty()) {
            error = "give a pattern file or --example, not both (see --help)";
            return 2;
        }
        const zelvox::Example e = zelvox::FindExample(zelvox::ProgramDir(), o.Example);
        if (e.Path.empty()) {
            error = "no example called '" + o.Example + "' (--list-examples prints them)";
            return 2;
        }
        o.File = e.Path;
        bool song = false;
        try {
            song = zelvox::PatternFileHasSong(zelvox::ReadPatternFileBytes(e.Path));
        } catch (const std::exception&) {
            // Unreadable: the load below reports it.
        }
        if (song && o.Pattern == 0 && !o.Arranger) {
            o.Arranger = true;
            if (!o.BuffersGiven && !o.SecondsGiven) o.Buffers = 60'000; // 10 minutes
        }
        if (!o.Play && o.Out.empty() && o.Stems.empty() && o.Save.empty() && o.MidiFile.empty())
            o.Out = e.Name + ".wav";
    }
    if (o.BuffersGiven && o.SecondsGiven) {
        error = "give --buffers or --seconds, not both (see --help)";
        return 2;
    }
    if (o.Pattern != 0 && o.Arranger) {
        error = "--pattern does not go with --arranger: the song chooses its own patterns "
                "(see --help)";
        return 2;
    }
    if (o.Play && o.Rate != 44100) {
        error = "--rate goes with a render to files, not with --play (see --help)";
        return 2;
    }
    if (o.Play && (!o.Out.empty() || !o.Stems.empty())) {
        error = "--play writes no file: leave out -o and --stems (see --help)";
        return 2;
    }
    if (o.Live && !o.Play) {
        error = "--live goes with --play (see --help)";
        return 2;
    }
    if ((o.FollowTransport || o.FollowClock || o.SendClock || o.TimebaseMaster) && !o.Live) {
        error = "--follow-transport, --follow-clock, --send-clock and --timebase-master go with "
                "--play --live (see --help)";
        return 2;
    }
    if (o.NotesGiven && !o.Live && (o.MidiFile.empty() || o.Notes.SendNotes)) {
        error = "--notes-out goes with --play --live, --notes-channels and --drum-notes with it or "
                "with --midi-file (see --help)";
        return 2;
    }
    if (o.NotesIn.On() && !o.Live) {
        error = "--notes-in and --pattern-notes go with --play --live (see --help)";
        return 2;
    }
    if (o.FollowTransport && o.FollowClock) {
        error = "follow the JACK transport or MIDI clock, not both (see --help)";
        return 2;
    }
    if (!o.Play && o.NoConnect) {
        error = "--no-connect goes with --play (see --help)";
        return 2;
    }
    if (!o.Play && o.StartDelayMs != 0) {
        error = "--start-delay goes with --play (see --help)";
        return 2;
    }
    if (o.Play && (o.Randomise || o.Mutate || !o.Save.empty())) {
        error = "--randomise, --mutate and --save make a pattern file, not with --play; save "
                "it, then play it (see --help)";
        return 2;
    }
    if (o.Bits != 16) {
        const std::string why =
            zelvox::AudioFormatProblem({zelvox::AudioFileKindOf(o.Out), o.Bits});
        if (!why.empty() || o.Play || (o.Out.empty() && o.Stems.empty())) {
            error = why.empty() ? "--bits goes with -o or --stems (see --help)" : why + " (see --help)";
            return 2;
        }
    }
    if (o.Play && !o.MidiFile.empty()) {
        error = "--midi-file writes a file, not with --play (see --help)";
        return 2;
    }
    if (!o.Play && o.Out.empty() && o.Stems.empty() && o.Save.empty() && o.MidiFile.empty()) {
        error = "no output file: give -o OUT.wav, --stems DIR, --save OUT.zvx, --midi-file OUT.mid "
                "or more (see --help)";
        return 2;
    }
    // A loop's length is known now: one longer than a WAV file holds is refused before it
    // starts, not when it reaches the limit hours later. (A song may end sooner: with
    // --arranger the render fails only if it really gets there.)
    const int64_t bytesPerBuffer = 441 * 2;
    if (!o.Play && !o.Arranger &&
        (o.Buffers < 0 ? 1000 : o.Buffers) * bytesPerBuffer > zelvox::kMaxWavDataBytes) {
        const auto format = zelvox::PcmWaveFormat(16, 1, 44100);
        const int64_t seconds = zelvox::kMaxWavDataBytes / bytesPerBuffer / 100;
        error = "a WAV file holds at most " +
                zelvox::WavLimitText(zelvox::kMaxWavDataBytes, format) +
                " of sound (at 44100 Hz, 16 bits, mono), and each stem as much: give --seconds " +
                std::to_string(seconds) + " or less (see --help)";
        return 2;
    }
    return 0;
}

// --play --live: the same on the low-latency JACK output.
int PlayLive(const Options& o) {
    try {
        zelvox::TSettingsFile settings;
        const bool settingsConnect = zelvox::ReadAudioBackendChoice(settings).Connect;
        zelvox::LivePlayer player(settings);
        if (!o.File.empty()) {
            try {
                player.Load(o.File);
            } catch (const std::exception& e) {
                return Fail(1, e.what());
            }
        }
        if (o.Pattern != 0) player.ChoosePattern(o.Pattern);
        player.Synth.Seq.SetSwing(o.Swing);
        if (o.Swing != 0) player.Live.Post({zelvox::LiveCommand::Kind::Swing, o.Swing});
        if (o.NotesIn.On())
            player.Live.Post({zelvox::LiveCommand::Kind::NotesIn, zelvox::PackNotesIn(o.NotesIn)});
        const uint64_t frames = o.Buffers < 0 ? 0 : uint64_t(o.Buffers) * 441;
        zelvox::LiveSync sync = o.Notes;
        sync.FollowTransport = o.FollowTransport;
        sync.FollowClock = o.FollowClock;
        sync.SendClock = o.SendClock;
        sync.TimebaseMaster = o.TimebaseMaster;
        const zelvox::LivePlayResult r =
            player.Play(o.Arranger, sync, frames, [] { return zelvox::StopSignal() != 0; },
                        zelvox::DefaultJackClientName(), o.StartDelayMs,
                        !o.NoConnect && settingsConnect);
        if (!r.Ok) return Fail(1, r.Error);
        // What really happened: the server may have changed its period and its rate meanwhile.
        std::string periods = std::to_string(r.ShortestPeriod);
        if (r.LongestPeriod != r.ShortestPeriod) periods += " to " + std::to_string(r.LongestPeriod);
        std::string rate = std::to_string(r.Rate) + " Hz";
        if (r.RateChanges > 0)
            rate += ", after " + std::to_string(r.RateChanges) + " rate change" + (r.RateChanges > 1 ? "s" : "");
        std::fprintf(stderr,
                     "zelvox-render: %llu periods of %s frames played (%.2f s at %s), %llu xruns, "
                     "peak load %.0f%%\n",
                     static_cast<unsigned long long>(r.Periods), periods.c_str(), r.Seconds,
                     rate.c_str(), static_cast<unsigned long long>(r.Xruns), double(r.PeakLoad) * 100.0);
    } catch (const std::exception& e) {
        return Fail(1, e.what());
    }
    return 0;
}

// --play: the program plays FILE (or its start-up patterns) through the sound device.
int Play(const Options& o) {
    if (o.Live) return PlayLive(o);
    try {
        zelvox::TSettingsFile settings;
        zelvox::HeadlessPlayer player(settings, nullptr, !o.NoConnect);
        if (!o.File.empty()) {
            try {
                player.Load(o.File);
            } catch (const zelvox::EInOutError& e) {
                return Fail(1, e.what()); // names the file and the reason
            } catch (const std::exception& e) {
                return Fail(1, o.File + ": " + e.what());
            }
        }
        if (o.Pattern != 0) player.ChoosePattern(o.Pattern);
        player.Synth.Seq.SetSwing(o.Swing);
        if (::isatty(STDERR_FILENO) == 1)
            std::fprintf(stderr, "playing through %s; Ctrl-C stops\n", player.Backend().c_str());
        const zelvox::HeadlessPlayResult r =
            player.Play(o.Arranger, o.Buffers < 0 ? 0 : o.Buffers, o.StartDelayMs,
                        [] { return zelvox::StopSignal() != 0; });
        if (r.Underruns > 0)
            std::fprintf(stderr, "zelvox-render: %llu underruns (the device ran out of sound)\n",
                         static_cast<unsigned long long>(r.Underruns));
        if (!r.Ok) {
            // The device's messages span lines ("WaveOutOpen:\n\r..."); keep it to one.
            std::string what = r.Error;
            for (char& c : what)
                if (c == '\n' || c == '\r') c = ' ';
            std::string one;
            for (char c : what)
                if (!(c == ' ' && !one.empty() && one.back() == ' ')) one += c;
            return Fail(1, one);
        }
    } catch (const std::exception& e) {
        return Fail(1, e.what());
    }
    return 0;
}

// The end of the program: the kept JACK clients are closed (bounded). A libjack call that
// hung (see devices/JackClient.h) would hang the normal exit too, in libjack's own teardown:
// then the files are flushed and the process ends without it, with the status it has.
int Finish(int code) {
    zelvox::CloseJackClients();
    if (zelvox::JackCallsHanging() > 0) {
        std::fflush(nullptr);
        ::_exit(code);
    }
    return code;
}

int Render(Options& o);

} // namespace

int main(int argc, char** argv) {
    // A file size limit makes writes fail with an error we report, instead of killing us
    // with a half-written file left behind.
    std::signal(SIGXFSZ, SIG_IGN);
    // A reader that goes away (zelvox-render -o - | head -c 100) makes writes fail with an
    // error, so that the render cleans up, instead of killing it with its part files left.
    std::signal(SIGPIPE, SIG_IGN);
    Options o;
    std::string error;
    const int parsed = Parse(argc, argv, o, error);
    if (parsed < 0) {
        std::fputs(UsageText().c_str(), stdout);
        return 0;
    }
    if (parsed > 0) return Fail(parsed, error);
    if (o.ListExamples) {
        const auto examples = zelvox::ListExamples(zelvox::ProgramDir());
        if (examples.empty()) {
            std::string where;
            for (const std::string& f : zelvox::ExampleFolders(zelvox::ProgramDir()))
                where += (where.empty() ? "" : ", ") + f;
            return Fail(1, "the factory bank is not installed (looked in " + where + ")");
        }
        for (const zelvox::Example& e : examples)
            std::printf("%s\n", e.Name.c_str());
        return 0;
    }
    zelvox::InstallStopSignals();
    return Finish(o.Play ? Play(o) : Render(o));
}

namespace {

int Render(Options& o) {
    if (o.Buffers < 0) o.Buffers = 1000;

    const bool terminal = ::isatty(STDERR_FILENO) == 1;
    bool progressShown = false;
    try {
        zelvox::SynthRenderer program;
        if (!o.File.empty()) {
            try {
                program.Load(o.File);
            } catch (const zelvox::EInOutError& e) {
                return Fail(1, e.what()); // names the file and the reason
            } catch (const std::exception& e) {
                return Fail(1, o.File + ": " + e.what());
            }
        }
        if (o.Pattern != 0) program.ChoosePattern(o.Pattern);
        program.Synth.Seq.SetSwing(o.Swing);
        if (o.Randomise || o.Mutate) {
            const int32_t p = o.Pattern != 0 ? o.Pattern : 1;
            zelvox::PatternStore& store = program.Synth.Store;
            if (o.Randomise) zelvox::RandomisePattern(store, p, o.RandomSeed, o.Dice);
            if (o.Mutate) zelvox::MutatePattern(store, p, o.MutateSeed, o.MutateAmount, o.Dice);
            program.ShowPattern();
        }
        if (!o.Save.empty()) {
            try {
                program.Save(o.Save);
            } catch (const std::exception& e) {
                return Fail(1, e.what());
            }
            if (o.Out.empty() && o.Stems.empty() && o.MidiFile.empty()) return 0;
        }
        // After the sound (a failed render leaves no file, the MIDI file neither).
        auto midiFile = [&]() -> int {
            if (o.MidiFile.empty()) return 0;
            const zelvox::NoteChannels channels{o.Notes.NotesBassChannel, o.Notes.NotesTwinTChannel,
                                                o.Notes.NotesNoiseChannel, o.Notes.NotesTwinTNote,
                                                o.Notes.NotesNoiseNote};
            try {
                zelvox::ExportMidiFile(program.Synth, o.Arranger,
                                       o.Pattern != 0 ? o.Pattern : program.Synth.Seq.PlayPattern,
                                       uint64_t(o.Buffers) * 441, channels, o.MidiFile);
            } catch (const std::exception& e) {
                return Fail(1, e.what());
            }
            return 0;
        };
        if (o.Out.empty() && o.Stems.empty()) return midiFile();
        auto progress = [&](int64_t n) {
            if (const int sig = zelvox::StopSignal()) throw Interrupted{sig};
            if (terminal && (n % 500 == 0 || n == o.Buffers)) {
                progressShown = true;
                std::fprintf(stderr, "\rrendering: %lld of at most %lld buffers (%lld s)",
                             static_cast<long long>(n), static_cast<long long>(o.Buffers),
                             static_cast<long long>(n / 100));
            }
        };
        const zelvox::AudioFileFormat format{
            o.Out.empty() ? zelvox::AudioFileKind::Wav : zelvox::AudioFileKindOf(o.Out), o.Bits};
        program.Render(zelvox::SynthRenderer::Targets{o.Out, o.Stems, o.Rate, format}, o.Arranger,
                       o.Buffers, progress);
        if (progressShown) std::fputc('\n', stderr);
        if (const int failed = midiFile()) return failed;
    } catch (const Interrupted& stop) {
        if (progressShown) std::fputc('\n', stderr);
        // Render removed its part files on the way out; an older file keeps its name.
        std::fprintf(stderr, "zelvox-render: interrupted (%s); no file written\n",
                     strsignal(stop.Signal));
        return zelvox::StopStatus(stop.Signal);
    } catch (const std::exception& e) {
        if (progressShown) std::fputc('\n', stderr);
        std::string what = e.what();
        // The WAV sink's own messages name no file; add the mix's. The stems' messages name
        // their file or folder.
        const bool named = (!o.Out.empty() && what.find(o.Out) != std::string::npos) ||
                           (!o.Stems.empty() && what.find(o.Stems) != std::string::npos);
        if (!named) what = (o.Out.empty() ? o.Stems : o.Out) + ": " + what;
        return Fail(1, what);
    }
    return 0;
}

} // namespace
