// zelvox-make-bank: writes the factory bank, the pattern files installed under
// share/zelvox/patterns, from the program's own start-up state, its Randomise and Mutate and
// explicit edits written out below. The same program always writes the same bytes, so the
// bank can be remade after a change and a test compares the files kept in the repository
// with what this writes.
//
// Usage: zelvox-make-bank FOLDER   (writes FOLDER/NAME.zvx for every entry; prints the names)

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "files/PatternFileFormat.h"
#include "program/HeadlessProgram.h"
#include "sequencer/PatternDice.h"
#include "sequencer/PatternEdits.h"

namespace {

using zelvox::PatternFileRecord;
using zelvox::StepRecord;

// A bass line of 16 steps as text: a note number 1..37 plays it ("13"), a trailing "s"
// slides into the next step ("13s"), "-" rests (the note stays what it was).
void Bass(PatternFileRecord& r, int p, const char* line) {
    std::string text(line);
    size_t from = 0;
    for (int s = 1; s <= 16; ++s) {
        while (from < text.size() && text[from] == ' ')
            ++from;
        size_t end = text.find(' ', from);
        if (end == std::string::npos) end = text.size();
        const std::string tok = text.substr(from, end - from);
        from = end;
        StepRecord& st = r.Store.Step(p, s);
        if (tok == "-" || tok.empty()) {
            st.BassPlay = 0;
            st.BassSlide = 0;
            continue;
        }
        const bool slide = tok.back() == 's';
        zelvox::SetStepNote(st, zelvox::kModeBass,
                            std::stoi(slide ? tok.substr(0, tok.size() - 1) : tok));
        st.BassPlay = 1;
        st.BassSlide = slide ? 1 : 0;
    }
}

// Drum hits as 16 characters: 'x' plays the step, anything else does not.
void TwinT(PatternFileRecord& r, int p, const char* hits) {
    for (int s = 1; s <= 16; ++s)
        r.Store.Step(p, s).TwinTPlay = hits[s - 1] == 'x' ? 1 : 0;
}
void Noise(PatternFileRecord& r, int p, const char* hits) {
    for (int s = 1; s <= 16; ++s)
        r.Store.Step(p, s).NoisePlay = hits[s - 1] == 'x' || hits[s - 1] == 'o' ? 1 : 0;
}

// Every step of pattern p, with its number 1..16.
void Each(PatternFileRecord& r, int p, const std::function<void(StepRecord&, int)>& f) {
    for (int s = 1; s <= 16; ++s)
        f(r.Store.Step(p, s), s);
}

// A value that moves in a straight line from `from` at step 1 to `to` at step 16.
int32_t Ramp(int s, int32_t from, int32_t to) {
    return from + (to - from) * (s - 1) / 15;
}

void Copy(PatternFileRecord& r, int from, int to) {
    for (int s = 1; s <= 16; ++s)
        r.Store.Step(to, s) = r.Store.Step(from, s);
}

void Dice(PatternFileRecord& r, int p, uint64_t seed, zelvox::DiceScale scale, int lo, int hi) {
    zelvox::DiceOptions o;
    o.Scale = scale;
    o.Low = lo;
    o.High = hi;
    zelvox::RandomisePattern(r.Store, p, seed, o);
}

void Mutate(PatternFileRecord& r, int p, uint64_t seed, int amount, zelvox::DiceScale scale, int lo,
            int hi, zelvox::DiceLocks locks = {}) {
    zelvox::DiceOptions o;
    o.Scale = scale;
    o.Low = lo;
    o.High = hi;
    o.Locks = locks;
    zelvox::MutatePattern(r.Store, p, seed, amount, o);
}

// The pattern buttons a loop file leaves free get variations of pattern 1: copies with a
// quarter of their steps mutated (the drums kept), so every button plays something near it.
void Variations(PatternFileRecord& r, uint64_t seed, zelvox::DiceScale scale, int lo, int hi) {
    zelvox::DiceLocks keepDrums;
    keepDrums.TwinT = keepDrums.Noise = true;
    for (int p = 2; p <= 16; ++p) {
        Copy(r, 1, p);
        Mutate(r, p, seed + uint64_t(p), 25, scale, lo, hi, keepDrums);
    }
}

void Song(PatternFileRecord& r, std::initializer_list<std::pair<int, int>> phrases) {
    int k = 1;
    for (const auto& [pattern, count] : phrases)
        r.Phrases[size_t(k++)] = {pattern, count};
}

// A kick on the Twin-T: low, falling in pitch, a short decay.
void Kick(StepRecord& st, int note = 3, int sweep = 70, int decay = 40) {
    zelvox::SetStepNote(st, zelvox::kModeTwinT, note);
    st.TwinTEnvMod = sweep;
    st.TwinTDecay = decay;
    st.TwinTVolume = 127;
}
// A closed hi-hat on the noise voice: bright, short.
void Hat(StepRecord& st, int cutoff = 34, int decay = 6, int volume = 90) {
    zelvox::SetStepNote(st, zelvox::kModeNoise, cutoff);
    st.NoiseDecay = decay;
    st.NoiseVolume = volume;
    st.NoiseColour = 40;
    st.NoiseEnvMod = 0;
}

void BassSound(StepRecord& st, int wave, int cutoff, int res, int envMod, int decay, int length) {
    st.BassWaveform = wave;
    st.BassCutoff = cutoff;
    st.BassResonance = res;
    st.BassEnvMod = envMod;
    st.BassDecay = decay;
    st.BassLength = length;
}

struct Entry {
    const char* Name; // file name without .zvx
    std::function<void(PatternFileRecord&)> Make;
};

using zelvox::DiceScale;

const std::vector<Entry>& Bank() {
    static const std::vector<Entry> bank = {
        {"acid-slides-saw",
         [](PatternFileRecord& r) {
             r.Tempo = 132;
             Bass(r, 1, "13 13 25s 13 - 16s 18 13 20s 22 13 - 25s 24 13 15s");
             Each(r, 1, [](StepRecord& st, int s) {
                 BassSound(st, 1, 30, 92, 100, s % 4 == 1 ? 70 : 30, 90);
                 Kick(st, 2, 80, 36);
                 Hat(st);
             });
             TwinT(r, 1, "x...x...x...x...");
             Noise(r, 1, "..x...x...x...xx");
             r.Delay = 3;
             r.Depth = 25;
             r.Volume = 20000;
             Variations(r, 100, DiceScale::Minor, 13, 25);
         }},
        {"square-bass-bounce",
         [](PatternFileRecord& r) {
             r.Tempo = 118;
             Bass(r, 1, "8 - 8 20 - 8 15 - 8 - 20 8 18 - 15 13");
             Each(r, 1, [](StepRecord& st, int) {
                 BassSound(st, 0, 54, 40, 60, 45, 70);
                 st.BassAmpSwitch = 1;
                 Kick(st, 4, 55, 50);
                 Hat(st, 36, 5, 70);
             });
             TwinT(r, 1, "x.....x...x.....");
             Noise(r, 1, "xxxxxxxxxxxxxxxx");
             r.Volume = 22000;
             Variations(r, 200, DiceScale::Minor, 8, 20);
         }},
        {"saw-filter-sweep",
         [](PatternFileRecord& r) {
             r.Tempo = 128;
             // Four passes of one riff with the cut-off rising from closed to open and back.
             for (int p = 1; p <= 4; ++p) {
                 Bass(r, p, "1 13 1 13 1 13 1 13s 8 20 8 20 6 18 6 18");
                 Each(r, p, [p](StepRecord& st, int s) {
                     const int from = p <= 2 ? 4 + 50 * (p - 1) : 110 - 50 * (p - 3);
                     const int to = p <= 2 ? 54 + 50 * (p - 1) : 60 - 50 * (p - 3);
                     BassSound(st, 1, Ramp(s, from, to), 70, 40, 40, 100);
                     Kick(st);
                     Hat(st, 33, 8, 80);
                 });
                 TwinT(r, p, "x...x...x...x...");
                 Noise(r, p, "..x...x...x...x.");
             }
             Song(r, {{1, 2}, {2, 2}, {3, 2}, {4, 2}});
             r.Delay = 3;
             r.Depth = 20;
             r.Volume = 20000;
         }},
        {"envelope-wobble",
         [](PatternFileRecord& r) {
             r.Tempo = 110;
             Bass(r, 1, "6 6 6 6s 8 8 8 8 11 11 11 11s 6 6 4 4");
             Each(r, 1, [](StepRecord& st, int s) {
                 // Envelope depth and decay swing between steps: open, closed, long, short.
                 BassSound(st, 1, 12, 80, s % 2 ? 120 : 40, s % 4 == 1 ? 110 : 25, 110);
                 Kick(st, 2, 60, 60);
             });
             TwinT(r, 1, "x.......x.......");
             Noise(r, 1, "................");
             r.Delay = 6;
             r.Depth = 30;
             r.Volume = 20000;
             Variations(r, 300, DiceScale::Minor, 4, 16);
         }},
        {"twin-t-groove",
         [](PatternFileRecord& r) {
             r.Tempo = 124;
             Each(r, 1, [](StepRecord& st, int s) {
                 st.BassPlay = 0;
                 // The kick on the beat, toms higher up between.
                 Kick(st, s % 4 == 1 ? 2 : 9 + (s % 3) * 2, s % 4 == 1 ? 85 : 40,
                      s % 4 == 1 ? 45 : 25);
                 Hat(st, 35, s % 4 == 3 ? 24 : 10, s % 2 ? 80 : 110);
             });
             TwinT(r, 1, "x..xx...x.x.x..x");
             Noise(r, 1, "x.xxx.x.x.xox.xx");
             r.Delay = 2;
             r.Depth = 15;
             r.Volume = 22000;
             Variations(r, 400, DiceScale::Minor, 1, 13);
         }},
        {"noise-shuffle",
         [](PatternFileRecord& r) {
             r.Tempo = 96;
             Bass(r, 1, "1 - - 1 - - 8 - 1 - - 1 - 11 10 8");
             Each(r, 1, [](StepRecord& st, int s) {
                 BassSound(st, 0, 40, 30, 30, 60, 60);
                 Kick(st, 3, 60, 55);
                 // The noise filter moves and rings: colour and cut-off per step.
                 zelvox::SetStepNote(st, zelvox::kModeNoise, 24 + (s * 5) % 13);
                 st.NoiseColour = 60 + (s * 11) % 60;
                 st.NoiseDecay = s % 4 == 3 ? 30 : 8;
                 st.NoiseEnvMod = 40;
                 st.NoiseVolume = 100;
             });
             TwinT(r, 1, "x.....x.x.......");
             Noise(r, 1, "xx.xx.xx.xx.xx.x");
             r.Volume = 22000;
             Variations(r, 500, DiceScale::Pentatonic, 1, 13);
         }},
        {"dub-echo-square",
         [](PatternFileRecord& r) {
             r.Tempo = 84;
             Bass(r, 1, "1 - - 1 - - - - 4 - - 6s 8 - - -");
             Each(r, 1, [](StepRecord& st, int) {
                 BassSound(st, 0, 28, 50, 20, 90, 110);
                 Kick(st, 2, 50, 70);
                 Hat(st, 30, 12, 70);
             });
             TwinT(r, 1, "x.......x.......");
             Noise(r, 1, "....x.......x...");
             r.Delay = 6;
             r.Depth = 70;
             r.Volume = 17000;
             Variations(r, 600, DiceScale::Minor, 1, 13);
         }},
        {"rave-saw-175",
         [](PatternFileRecord& r) {
             r.Tempo = 175;
             Bass(r, 1, "13 25 13 25 13 25 13 25 18 30 18 30 20 32 20 32");
             Each(r, 1, [](StepRecord& st, int s) {
                 BassSound(st, 1, 40 + (s % 8) * 8, 85, 90, 30, 50);
                 Kick(st, 2, 90, 30);
                 Hat(st, 37, 4, 85);
             });
             TwinT(r, 1, "x...x...x...x...");
             Noise(r, 1, "..x...x...x...x.");
             r.Volume = 19000;
             Variations(r, 700, DiceScale::Minor, 13, 32);
         }},
        {"dice-minor-seed-7",
         [](PatternFileRecord& r) {
             r.Tempo = 126;
             Dice(r, 1, 7, DiceScale::Minor, 1, 25);
             r.Delay = 3;
             r.Depth = 20;
             r.Volume = 20000;
             Variations(r, 800, DiceScale::Minor, 1, 25);
         }},
        {"dice-major-seed-21",
         [](PatternFileRecord& r) {
             r.Tempo = 116;
             Dice(r, 1, 21, DiceScale::Major, 8, 32);
             Mutate(r, 1, 22, 25, DiceScale::Major, 8, 32);
             r.Volume = 20000;
             Variations(r, 900, DiceScale::Major, 8, 32);
         }},
        {"song-acid-journey",
         [](PatternFileRecord& r) {
             r.Tempo = 136;
             const char* line = "13 13 25s 13 - 16s 18 13 20s 22 13 - 25s 24 13 15s";
             // 1 drums alone, 2 the bass closed, 3 opened and ringing, 4 the break.
             for (int p = 1; p <= 4; ++p) {
                 Bass(r, p, line);
                 Each(r, p, [p](StepRecord& st, int s) {
                     BassSound(st, 1, p == 2 ? 14 : Ramp(s, 30, 70), p == 3 ? 95 : 70,
                               p == 3 ? 110 : 60, 40, 80);
                     Kick(st, 2, 80, 36);
                     Hat(st);
                 });
                 TwinT(r, p, p == 4 ? "x..............." : "x...x...x...x...");
                 Noise(r, p, p == 4 ? "................" : "..x...x...x...xx");
             }
             Each(r, 1, [](StepRecord& st, int) { st.BassPlay = 0; });
             Song(r, {{1, 2}, {2, 4}, {3, 4}, {4, 2}, {3, 4}, {1, 1}});
             r.Delay = 3;
             r.Depth = 30;
             r.Volume = 19000;
         }},
        {"song-dub-chain",
         [](PatternFileRecord& r) {
             r.Tempo = 92;
             const char* lines[4] = {
                 "1 - - 1 - - - - 4 - - 6s 8 - - -", "1 - - 1 - - - - 11 - - 8s 6 - - -",
                 "4 - - 4 - - - - 6 - - 8s 11 - - -", "1 - - - - - - - - - - - - - - -"};
             for (int p = 1; p <= 4; ++p) {
                 Bass(r, p, lines[p - 1]);
                 Each(r, p, [p](StepRecord& st, int) {
                     BassSound(st, 0, 26 + 6 * p, 55, 25, 90, 110);
                     Kick(st, 2, 50, 70);
                     Hat(st, 30, 12, 70);
                 });
                 TwinT(r, p, "x.......x.......");
                 Noise(r, p, p == 4 ? "....x.....x.x..." : "....x.......x...");
             }
             Song(r, {{1, 2}, {2, 2}, {1, 2}, {3, 2}, {4, 1}});
             r.Delay = 6;
             r.Depth = 60;
             r.Volume = 17000;
         }},
        {"song-electro-148",
         [](PatternFileRecord& r) {
             r.Tempo = 148;
             for (int p = 1; p <= 3; ++p) {
                 Dice(r, p, 1480 + uint64_t(p), DiceScale::Pentatonic, 1, 25);
                 Each(r, p, [](StepRecord& st, int) {
                     st.BassWaveform = 0;
                     Kick(st, 3, 75, 35);
                     Hat(st, 36, 4, 80);
                 });
                 TwinT(r, p, "x..x..x...x..x..");
                 Noise(r, p, "x.x.x.x.x.x.x.x.");
             }
             Song(r, {{1, 2}, {2, 2}, {1, 2}, {3, 2}});
             r.Delay = 2;
             r.Depth = 15;
             r.Volume = 19000;
         }},
        {"octave-pump-amp",
         [](PatternFileRecord& r) {
             r.Tempo = 122;
             Bass(r, 1, "6 18 6 18 6 18 6 18 1 13 1 13 4 16 4 16");
             Each(r, 1, [](StepRecord& st, int s) {
                 BassSound(st, 0, 60, 20, 70, 20, s % 2 ? 50 : 35);
                 st.BassAmpSwitch = 1;
                 st.BassVolume = s % 2 ? 127 : 90;
                 Kick(st, 3, 70, 45);
                 Hat(st, 35, 5, 75);
             });
             TwinT(r, 1, "x...x...x...x...");
             Noise(r, 1, "..x...x...x...x.");
             r.Volume = 20000;
             Variations(r, 1000, DiceScale::Minor, 1, 18);
         }},
        {"twin-t-toms-melody",
         [](PatternFileRecord& r) {
             r.Tempo = 104;
             const int toms[16] = {1, 5, 8, 5, 10, 8, 5, 3, 1, 5, 8, 12, 10, 8, 5, 3};
             Each(r, 1, [&toms](StepRecord& st, int s) {
                 st.BassPlay = 0;
                 Kick(st, toms[s - 1], 30, 50);
                 Hat(st, 28, 20, 60);
             });
             TwinT(r, 1, "x.xxx.xxx.xxx.xx");
             Noise(r, 1, "...x.......x....");
             r.Delay = 4;
             r.Depth = 40;
             r.Volume = 22000;
             Variations(r, 1100, DiceScale::Minor, 1, 13);
         }},
        {"noise-riser-drone",
         [](PatternFileRecord& r) {
             r.Tempo = 100;
             Bass(r, 1, "1s 1s 1s 1s 1s 1s 1s 1s 1s 1s 1s 1s 1s 1s 1s 1");
             Each(r, 1, [](StepRecord& st, int s) {
                 BassSound(st, 1, Ramp(s, 10, 60), 60, 30, 120, 127);
                 // The noise filter climbs through the pattern: a riser.
                 zelvox::SetStepNote(st, zelvox::kModeNoise, Ramp(s, 14, 37));
                 st.NoiseColour = 100;
                 st.NoiseDecay = 40;
                 st.NoiseEnvMod = 20;
                 st.NoiseVolume = Ramp(s, 40, 100);
             });
             TwinT(r, 1, "................");
             Noise(r, 1, "xxxxxxxxxxxxxxxx");
             r.Delay = 4;
             r.Depth = 50;
             r.Volume = 18000;
         }},
        {"twelve-steps-waltz",
         [](PatternFileRecord& r) {
             r.Tempo = 138;
             r.Steps = 12;
             Bass(r, 1, "8 - 15 8 - 15 6 - 13 6 - 18s 8 8 8 8");
             Each(r, 1, [](StepRecord& st, int) {
                 BassSound(st, 1, 36, 75, 80, 35, 70);
                 Kick(st, 2, 75, 45);
                 Hat(st, 34, 7, 80);
             });
             TwinT(r, 1, "x.....x.....x...");
             Noise(r, 1, "..x.x...x.x.....");
             r.Delay = 3;
             r.Depth = 25;
             r.Volume = 20000;
             Variations(r, 1200, DiceScale::Minor, 6, 18);
         }},
        {"sub-glide-square",
         [](PatternFileRecord& r) {
             r.Tempo = 140;
             Bass(r, 1, "1s 13 - 1 - 1s 8s 6 - 1 - 1 13s 11s 8s 6");
             Each(r, 1, [](StepRecord& st, int) {
                 BassSound(st, 0, 20, 30, 35, 70, 100);
                 Kick(st, 2, 75, 40);
                 Hat(st, 33, 6, 70);
             });
             TwinT(r, 1, "x.......x.......");
             Noise(r, 1, "..x...x...x...x.");
             r.Volume = 21000;
             Variations(r, 1300, DiceScale::Minor, 1, 13);
         }},
    };
    return bank;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: zelvox-make-bank FOLDER\n", stderr);
        return 2;
    }
    const std::string folder = argv[1];
    for (const Entry& e : Bank()) {
        // Each file starts from the program's own start-up state (its 16 default patterns,
        // knobs, contours and empty song), as a user's would.
        zelvox::HeadlessProgram program;
        PatternFileRecord record = program.PatternRecord();
        e.Make(record);
        try {
            zelvox::WriteFileReplacing(folder + "/" + e.Name + ".zvx",
                                       zelvox::EncodePatternFile(record));
        } catch (const std::exception& ex) {
            std::fprintf(stderr, "zelvox-make-bank: %s/%s.zvx: %s\n", folder.c_str(), e.Name,
                         ex.what());
            return 1;
        }
        std::printf("%s\n", e.Name);
    }
    return 0;
}
