#pragma once
// The main window's logic without a toolkit: every control of the window as a model, the
// engine, the pattern store, the positions, the phrase table and the clipboard, and every
// handler of the sound panels, the transport, the pattern editor, the arranger, the
// clipboard and the page switches. A Qt window attaches views to the controls; tests and the
// headless renderer drive the same object directly.
//
// Use: construct, attach the devices (SetTransportDevice, SetDspSource, SetReverb,
// SetRecordingSink),
// then FormCreate() once. Everything runs on one thread; the render loop (MMWaveOut2BufferLoad)
// runs on it too, between user actions.

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "audio/MMDSPObj.h"
#include "audio/MMWaveHdr.h"
#include "engine/Engine.h"
#include "sequencer/NoteNames.h"
#include "sequencer/StepRecord.h"
#include "ui/Controls.h"
#include "ui/OutputDevice.h"

namespace zelvox {

class TMMReverb;

constexpr int kPhraseCount = 16;
constexpr int32_t kPhrasePatternMax = 16; // "Phrase" spin edits: 0..16
constexpr int32_t kPhraseCountMax = 100;  // "Count" spin edits: 0..100

// One arranger phrase: which pattern, how many passes.
struct PhraseEntry {
    int32_t Pattern = 0; // 0..16; 0 ends the song
    int32_t Count = 0;   // 0..100; 0 on phrase 1 ends the song, on a later phrase repeats it
};

// SynthMode values.
enum : uint8_t { kModeBass = 0, kModeTwinT = 1, kModeNoise = 2, kModeArranger = 3 };

class MainForm {
public:
    MainForm();
    ~MainForm();
    MainForm(const MainForm&) = delete;
    MainForm& operator=(const MainForm&) = delete;

    // ---- Devices (not owned; each may stay null: the transport then only moves the
    // sequencer, and the Delay/Depth knobs only hold their values) ----
    void SetTransportDevice(TransportDevice* device) { Device_ = device; }
    void SetRecordingSink(RecordingSink* sink) { Sink_ = sink; }
    void SetReverb(TMMReverb* reverb) { Reverb_ = reverb; } // the echo behind Delay/Depth
    // The head of the audio chain (MMWaveout1): its OnBufferLoad becomes the render loop, and
    // FormCreate gives it the stream format (PCM, 1 channel, 44100 Hz, 16 bits).
    void SetDspSource(TMMDSPComponent* head);

    // ---- Start-up and close ----
    void FormCreate(); // the window's creation sequence; call once after attaching devices
    void FormClose();  // runs Stop

    // ---- Program state ----
    PatternStore Store{};             // the program's patterns, slot 0 = no pattern
    int32_t PlayPattern = 1;          // 0..16: shown, edited and played
    int32_t QueuedPattern = 1;        // 0..16: becomes PlayPattern at the next pattern end
    int32_t EditStep = 1;             // 1..16
    uint8_t SynthMode = kModeBass;    // page: 0 Bass, 1 Twin-T, 2 Noise, 3 Arranger
    bool SelectedNoteMode = false;    // false "All Notes", true "Selected Note"
    bool RecordingArmed = false;      // set by Record to wav, never cleared
    int32_t HoverPattern = 0;         // pattern button the mouse last moved over, 0 = none
    std::array<StepRecord, kStepsPerPattern> PatternClipboard{}; // zero until the first Copy
    std::array<PhraseEntry, kPhraseCount + 1> PhraseTable{};     // entries 1..16; [0] unused
    int32_t PhraseIndex = 1;          // phrase now playing, 1..16
    int32_t RepeatsLeft = 0;          // passes of the phrase still to finish

    // ---- The window and its areas ----
    Control Form1{"Form1"};             // caption: the window title
    Control BassPanel{"BassPanel"};     // knob strip: one of the three panels is visible
    Control TwinTPanel{"TwinTPanel"};
    Control NoisePanel{"NoisePanel"};
    Control EditorPanel{"EditorPanel"}; // middle area: editor or phrase table
    Control ArrangerPanel{"ArrangerPanel"};

    // ---- Bass panel ----
    Knob MMWheel1{"MMWheel1", 1, 127, 3};   // "Attack"  -> BassAttack
    Knob MMWheel2{"MMWheel2", 1, 127, 35};  // "Decay"   -> BassDecay
    Knob MMWheel3{"MMWheel3", 0, 126, 0};   // "Cut-off" -> BassCutoff
    Knob MMWheel4{"MMWheel4", 0, 105, 0};   // "Res."    -> BassResonance
    Knob MMWheel5{"MMWheel5", 0, 127, 7};   // "Env mod" -> BassEnvMod
    Knob MMWheel7{"MMWheel7", 0, 127, 0};   // "Volume"  -> BassVolume
    Knob MMWheel9{"MMWheel9", 32, 127, 80}; // "Length"  -> BassLength
    Switch MMSwitch1{"MMSwitch1", "Saw", "Square", 0}; // -> BassWaveform
    Switch MMSlider17{"MMSlider17", "Amp", "Off", 0};  // -> BassAmpSwitch
    // ---- Twin-T panel ----
    Knob MMWheel8{"MMWheel8", 1, 127, 64};   // "Decay"   -> TwinTDecay
    Knob MMWheel10{"MMWheel10", 0, 127, 10}; // "Env mod" -> TwinTEnvMod
    Knob MMWheel11{"MMWheel11", 0, 127, 127}; // "Volume" -> TwinTVolume
    // ---- Noise panel ----
    Knob MMWheel12{"MMWheel12", 1, 127, 64};  // "Decay"   -> NoiseDecay
    Knob MMWheel13{"MMWheel13", 0, 127, 10};  // "Env mod" -> NoiseEnvMod
    Knob MMWheel14{"MMWheel14", 0, 120, 120}; // "Colour"  -> NoiseColour
    Knob MMWheel15{"MMWheel15", 0, 127, 127}; // "Volume"  -> NoiseVolume

    // ---- Lower panel ----
    Knob MMWheel6{"MMWheel6", 0, 26125, 26125}; // master "Volume", read live by the render loop
    Knob MMWheel16{"MMWheel16", 0, 16, 0};      // "Delay", in steps
    Knob MMWheel17{"MMWheel17", 0, 100, 0};     // "Depth", percent
    SpinEdit SpinEdit971{"SpinEdit971", 1, 16, 16};   // "Steps"
    SpinEdit SpinEdit972{"SpinEdit972", 20, 240, 140}; // "Tempo", beats per minute
    Button Button1{"Button1", "Loop"}; // Start: "Loop" / "Play" / "Record"
    Button Button2{"Button2", "Stop"};
    Label MMLabel1{"MMLabel1", "\u25B2"}; // transpose up
    Label MMLabel2{"MMLabel2", "\u25BC"}; // transpose down
    Label MMLabel3{"MMLabel3", "\u25C0"}; // rotate left
    Label MMLabel4{"MMLabel4", "\u25B6"}; // rotate right

    // ---- Editor and step row (n = 1..16) ----
    NoteSlider& MMSlider(int n) { return *Sliders_.at(Idx(n)); }
    Label& NoteLabel(int n) { return *NoteLabels_.at(Idx(n)); } // Label1, Label8..Label22
    Led& MMLED(int n) { return *Leds_.at(Idx(n)); }
    LedButton& LEDButton(int n) { return *PatternButtons_.at(Idx(n)); }

    // ---- Arranger page (phrase k = 1..16) ----
    SpinEdit& PhrasePatternSpin(int k) { return *PhrasePatternSpins_.at(Idx(k)); } // spin1p, Spin2p..
    SpinEdit& PhraseCountSpin(int k) { return *PhraseCountSpins_.at(Idx(k)); }     // Spin1c..
    Label& PhraseLabel(int k) { return *PhraseLabels_.at(Idx(k)); }
    std::array<std::unique_ptr<Label>, 4> PhraseHeadings; // "Phrase", "Count" over each column

    // ---- Menus ----
    MenuItem AllNotes1{"AllNotes1", "&All Notes", true};
    MenuItem SelectedNote1{"SelectedNote1", "&Selected Note", true};
    MenuItem Synth1{"Synth1", "&Bass synth"};
    MenuItem SSynth1{"SSynth1", "&Twin-T synth"};
    MenuItem Noisesynth1{"Noisesynth1", "&Noise synth"};
    MenuItem Arranger1{"Arranger1", "&Arranger"};
    MenuItem Copy2{"Copy2", "&Copy"};   // Edit menu: current pattern
    MenuItem Paste2{"Paste2", "&Paste"};
    MenuItem Copy1{"Copy1", "Copy"};    // pattern buttons' context menu: hovered pattern
    MenuItem Paste1{"Paste1", "Paste"};
    MenuItem Play1{"Play1", "Play"};    // step context menu
    MenuItem Slide1{"Slide1", "Slide"};

    // Every control above, and a lookup by its name (nullptr when unknown).
    const std::vector<Control*>& AllControls() const { return All_; }
    Control* FindControl(const std::string& name) const;

    // ---- Engine ----
    Engine Eng;
    // Called right after the engine has loaded a step (by Start and by every SeqStep): a
    // place for tests and meters to watch what the engine plays.
    std::function<void()> OnStepLoaded;
    // The render loop, bound to the OnBufferLoad event of the chain's head:
    //   head.OnBufferLoad = [&form](TObject* s, PWaveHdr h, bool& m) {
    //       form.MMWaveOut2BufferLoad(s, h, m); };
    // Fills dwBufferLength / 2 samples at lpData and sets dwBytesRecorded and MoreBuffers;
    // with PlayPattern 0 it leaves the buffer and both values alone.
    void MMWaveOut2BufferLoad(TObject* Sender, PWaveHdr lpWaveHdr, bool& MoreBuffers);
    // The same on a bare sample array (bufferLength in bytes), for tests and tools.
    void MMWaveOut2BufferLoad(int16_t* samples, uint32_t bufferLength, uint32_t& bytesRecorded,
                              bool& moreBuffers);

    int32_t Steps() const { return SpinEdit971.Value(); }

    // ---- Sound controls (handlers run from the controls' OnChange) ----
    void UpdateSynth();
    void MMWheel16Change(); // "Delay": echo 0's delay from the tempo
    void MMWheel17Change(); // "Depth": the echo's output gain

    // ---- Sequencer and transport ----
    void SeqStep();
    void SeqDone();
    void Button1Click(); // Start
    void Button2Click(); // Stop
    void SpinEdit971Change();

    // ---- Pattern editor ----
    void InitNoteNames();
    void InitState();
    void NoteChange(int32_t note, std::string& name);
    void UpdateDisplay();
    void UpdateThumb(int n);
    void ClearLeds();
    void EnableLabels();
    void DisableLabels();
    void MMSliderChange(int n);
    void MMSliderEnter(int n); // also the click of step LED n
    void LEDButtonClick(int n);
    void SpeedButtonClick(int n);
    void SpeedButtonMouseMove(int n);
    void PopupMenu1Popup();
    void Play1Click();
    void Slide1Click();
    void AllNotes1Click();
    void SelectedNote1Click();
    void MMLabel1Click() { Transpose(+1); }
    void MMLabel2Click() { Transpose(-1); }
    void MMLabel3Click(); // rotate left
    void MMLabel4Click(); // rotate right

    // ---- Arranger ----
    void SpinPatternChange(int k); // spin1pChange .. Spin16pChange
    void SpinCountChange(int k);   // Spin1cChange .. Spin16cChange
    void UpdateArranger();
    void ArrStop();

    // ---- Clipboard ----
    void Copy1Click() { CopyPattern(HoverPattern); }
    void Paste1Click() { PastePattern(HoverPattern); }
    void Copy2Click() { CopyPattern(PlayPattern); }
    void Paste2Click() { PastePattern(PlayPattern); }

    // ---- Pages ----
    void Synth1Click();
    void SSynth1Click();
    void Noisesynth1Click();
    void Arranger1Click();

private:
    static size_t Idx(int n) { return static_cast<size_t>(n - 1); }
    void Wire();
    void Register(Control& c) { All_.push_back(&c); }
    void SoundControlChange(size_t index);
    void Transpose(int delta);
    void CopyPattern(int32_t pattern);
    void PastePattern(int32_t pattern);
    bool SongStart();
    void SongPatternEnd();
    void PaintLedUnlessMaroon(int32_t step, Colour c);
    StepRecord& EditedStep() { return Store.Step(ClampPattern(PlayPattern), ClampStep(EditStep)); }
    static int32_t ClampPattern(int32_t p) { return p < 0 ? 0 : (p > 16 ? 16 : p); }
    static int32_t ClampStep(int32_t s) { return s < 1 ? 1 : (s > 16 ? 16 : s); }
    static void StaticSeqStep(void* self) { static_cast<MainForm*>(self)->SeqStep(); }

    std::array<std::unique_ptr<NoteSlider>, kStepsPerPattern> Sliders_;
    std::array<std::unique_ptr<Label>, kStepsPerPattern> NoteLabels_;
    std::array<std::unique_ptr<Led>, kStepsPerPattern> Leds_;
    std::array<std::unique_ptr<LedButton>, kStepsPerPattern> PatternButtons_;
    std::array<std::unique_ptr<SpinEdit>, kPhraseCount> PhrasePatternSpins_;
    std::array<std::unique_ptr<SpinEdit>, kPhraseCount> PhraseCountSpins_;
    std::array<std::unique_ptr<Label>, kPhraseCount> PhraseLabels_;

    // The sound controls in UpdateSynth's order, each with the step field it writes.
    struct SoundControl {
        ValueControl* Control;
        int32_t StepRecord::*Field;
    };
    std::array<SoundControl, 16> SoundControls_{};

    std::vector<Control*> All_;
    TransportDevice* Device_ = nullptr;
    RecordingSink* Sink_ = nullptr;
    TMMReverb* Reverb_ = nullptr;
    TMMDSPComponent* DspSource_ = nullptr;
};

} // namespace zelvox
