#pragma once
// The main window's logic without a toolkit: every control of the window as a model, and
// every handler of the sound panels, the transport, the pattern editor, the arranger, the
// clipboard and the page switches. The synth itself (store, step clock, arranger, engine,
// echo) is a PatternSynth the form is given and edits, not its own; the handlers keep the
// window's names and hand the work to it, keeping the controls in step with what it reports.
// The editor's own state (the page shown, the clipboard) stays here. A Qt window attaches
// views to the controls; tests and the headless renderer drive the same object directly.
//
// Use: construct on a synth, attach the devices (SetTransportDevice, SetDspSource, SetReverb,
// SetRecordingSink), then FormCreate() once. Everything runs on one thread; the synth's render
// loop, which the program's chain calls, runs on it too, between user actions.

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "audio/MMDSPObj.h"
#include "audio/MMWaveHdr.h"
#include "sequencer/ControlTable.h"
#include "sequencer/NoteNames.h"
#include "sequencer/PatternDice.h"
#include "sequencer/PatternEdits.h"
#include "sequencer/Sequencer.h"
#include "synth/EditHistory.h"
#include "synth/PatternSynth.h"
#include "synth/SynthEdit.h"
#include "ui/ControlRows.h"
#include "ui/Controls.h"
#include "ui/OutputDevice.h"

namespace zelvox {

class TMMReverb;

class MainForm final : private SequencerListener {
public:
    // The window edits `synth`, which its owner keeps (constructed with WindowStartsIt: the
    // form's creation sequence starts it) for as long as the form lives.
    explicit MainForm(PatternSynth& synth);
    ~MainForm();
    MainForm(const MainForm&) = delete;
    MainForm& operator=(const MainForm&) = delete;

    // ---- Devices (not owned; each may stay null: the transport then only moves the
    // sequencer, and the Delay/Depth knobs only hold their values) ----
    void SetTransportDevice(TransportDevice* device) { Device_ = device; }
    // What an output that plays the synth elsewhere (the low-latency JACK output) reports:
    // step `step` of pattern `pattern` began. The window shows it as when its own render
    // loop moves on: the step LEDs, and the pattern when the queued one took over.
    void ShowPlayedStep(int32_t step, int32_t pattern);
    // That output's song began phrase k (1..16).
    void ShowPlayedPhrase(int32_t k) { PhraseStarted(k); }
    // That output's song ended: the transport stops as at the end of a song.
    void ShowPlayStopped() { SongEnded(); }
    void SetRecordingSink(RecordingSink* sink) { Sink_ = sink; }
    void SetReverb(TMMReverb* reverb) { Reverb_ = reverb; } // the echo behind Delay/Depth
    // The head of the audio chain (MMWaveout1), which the program's chain makes render the
    // synth: FormCreate gives it the stream format (PCM, 1 channel, 44100 Hz, 16 bits).
    void SetDspSource(TMMDSPComponent* head);

    // ---- Start-up and close ----
    void FormCreate(); // the window's creation sequence; call once after attaching devices
    void FormClose();  // runs Stop

    // ---- The synth the window presents, and its state under the window's names ----
    PatternSynth& Synth;
    PatternStore& Store = Synth.Store;                // slot 0 = no pattern
    int32_t& PlayPattern = Synth.Seq.PlayPattern;     // 0..16: shown, edited and played
    int32_t& QueuedPattern = Synth.Seq.QueuedPattern; // becomes PlayPattern at a pattern end
    int32_t& EditStep = Synth.EditStep;               // 1..16
    uint8_t SynthMode = kModeBass;                    // page: 0 Bass, 1 Twin-T, 2 Noise, 3 Arranger
    bool& SelectedNoteMode = Synth.SelectedNoteMode;  // false "All Notes", true "Selected Note"
    PhraseList& PhraseTable = Synth.Seq.Phrases;      // entries 1..16; [0] unused
    int32_t& PhraseIndex = Synth.Seq.PhraseIndex;     // phrase now playing, 1..16
    int32_t& RepeatsLeft = Synth.Seq.RepeatsLeft;     // passes of the phrase still to finish
    Engine& Eng = Synth.Eng;
    bool RecordingArmed = false; // set by Record to wav, never cleared
    int32_t HoverPattern = 0;    // pattern button the mouse last moved over, 0 = none

    // ---- The window and its areas ----
    Control Form1{"Form1"};             // caption: the window title
    Control BassPanel{"BassPanel"};     // knob strip: one of the three panels is visible
    Control TwinTPanel{"TwinTPanel"};
    Control NoisePanel{"NoisePanel"};
    Control EditorPanel{"EditorPanel"}; // middle area: editor or phrase table
    Control ArrangerPanel{"ArrangerPanel"};

    // ---- Sound and panel controls: name, range, start value and caption from kControls ----
    // Bass panel
    Knob MMWheel1 = ValueControlFor(ControlId::BassAttack);
    Knob MMWheel2 = ValueControlFor(ControlId::BassDecay);
    Knob MMWheel3 = ValueControlFor(ControlId::BassCutoff);
    Knob MMWheel4 = ValueControlFor(ControlId::BassResonance);
    Knob MMWheel5 = ValueControlFor(ControlId::BassEnvMod);
    Knob MMWheel7 = ValueControlFor(ControlId::BassVolume);
    Knob MMWheel9 = ValueControlFor(ControlId::BassLength);
    Switch MMSwitch1 = SwitchFor(ControlId::BassWaveform);
    Switch MMSlider17 = SwitchFor(ControlId::BassAmpSwitch);
    // Twin-T panel
    Knob MMWheel8 = ValueControlFor(ControlId::TwinTDecay);
    Knob MMWheel10 = ValueControlFor(ControlId::TwinTEnvMod);
    Knob MMWheel11 = ValueControlFor(ControlId::TwinTVolume);
    // Noise panel
    Knob MMWheel12 = ValueControlFor(ControlId::NoiseDecay);
    Knob MMWheel13 = ValueControlFor(ControlId::NoiseEnvMod);
    Knob MMWheel14 = ValueControlFor(ControlId::NoiseColour);
    Knob MMWheel15 = ValueControlFor(ControlId::NoiseVolume);
    // Lower panel
    Knob MMWheel6 = ValueControlFor(ControlId::MasterVolume); // read live by the render loop
    Knob MMWheel16 = ValueControlFor(ControlId::Delay);       // in steps
    Knob MMWheel17 = ValueControlFor(ControlId::Depth);       // percent
    SpinEdit SpinEdit971 = ValueControlFor(ControlId::Steps);
    SpinEdit SpinEdit972 = ValueControlFor(ControlId::Tempo); // beats per minute

    // The window's control for a row of kControls; null for the envelope dialog's.
    ValueControl* ControlFor(ControlId id) const { return ById_[static_cast<size_t>(id)]; }
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
    MenuItem Undo1{"Undo1", "&Undo"};   // Edit menu: caption names the edit, e.g. "&Undo Cut-off"
    MenuItem Redo1{"Redo1", "&Redo"};

    // Every control above, and a lookup by its name (nullptr when unknown).
    const std::vector<Control*>& AllControls() const { return All_; }
    Control* FindControl(const std::string& name) const;

    // ---- Engine ----
    // Called right after the engine has loaded a step (by Start and by every SeqStep): a
    // place for tests and meters to watch what the engine plays.
    std::function<void()> OnStepLoaded;

    int32_t Steps() const { return SpinEdit971.Value(); }

    // ---- Sound controls (handlers run from the controls' OnChange) ----
    void UpdateSynth();
    void MMWheel16Change(); // "Delay": echo 0's delay from the tempo
    void MMWheel17Change(); // "Depth": the echo's output gain

    // ---- Sequencer and transport ----
    void SeqStep() { Synth.Seq.SeqStep(); }
    void SeqDone() { Synth.Seq.SeqDone(); }
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
    PatternClipboard Clipboard; // Copy and Paste of a whole pattern
    void Copy1Click() { CopyPattern(HoverPattern); }
    void Paste1Click() { PastePattern(HoverPattern); }
    void Copy2Click() { CopyPattern(PlayPattern); }
    void Paste2Click() { PastePattern(PlayPattern); }

    // ---- Pages ----
    void Synth1Click() { ShowPage(kModeBass); }
    void SSynth1Click() { ShowPage(kModeTwinT); }
    void Noisesynth1Click() { ShowPage(kModeNoise); }
    void Arranger1Click() { ShowPage(kModeArranger); }
    void ShowPage(uint8_t mode);

    // ---- Undo and redo ----
    // Every edit of the patterns, the knobs a pattern file carries and the phrase table is
    // one step of History (see synth/EditHistory.h for what merges into one step). Undo and
    // redo put the edit state back and leave playback alone: playing or stopped, the play
    // position and the pattern that plays stay as they are.
    EditHistory History;
    void Undo1Click();
    void Redo1Click();
    // Forgets every step (after start-up, which is not an edit).
    void ClearHistory();
    // Run after every edit (the outermost edit scope's end), undo and redo, whether or not
    // anything changed: a session manager's client compares what it would save.
    std::function<void()> OnEdited;
    // Counts those same moments: an output that plays a copy of the synth elsewhere takes
    // the edit state over again only when this moved (and when the edit mode or step did),
    // never by comparing the whole state on a timer.
    uint64_t EditCount() const { return Edits_; }
    // Run at those same moments with what the edit was: a control, a step, a pattern or a
    // phrase as it stands after the edit, or Whole (a load, undo, randomise, or an edit that
    // changed more than it said). An output that plays a copy of the synth hands it on.
    std::function<void(const SynthEdit&)> OnSynthEdit;
    // An edit made on the pattern-file bytes elsewhere (Randomise, Mutate): `after` becomes
    // the edit state as one undo step named `label`; playback stays as it is.
    void ApplyEditState(const std::string& label, const std::vector<uint8_t>& after);
    // Edit > Randomise or Mutate (`mutate`, by `amount` percent of the steps) on the pattern
    // shown, as one undo step, playback left as it is. In "All Notes" mode the sound it gives
    // goes to every pattern, as a knob turn does there; in "Selected Note" the pattern keeps a
    // sound of its own.
    void DicePattern(bool mutate, uint64_t seed, int32_t amount, const DiceOptions& options);
    // True while an edit scope is open or undo/redo sets the controls: a control changing
    // now follows from that edit, not from the user turning it.
    bool Editing() const { return EditDepth_ > 0 || Restoring_; }

    // An edit in progress: from construction to destruction whatever changes in the edit
    // state is one undo step named `label`. Scopes nest; the outermost one records. A
    // nonzero key lets consecutive changes with the same key merge into one step.
    class EditScope {
    public:
        // `what` and `where` (the control, step, pattern or phrase) name what the edit
        // changes, for OnSynthEdit; the outermost scope's count.
        EditScope(MainForm& form, const std::string& label, uint64_t key,
                  SynthEdit::Kind what = SynthEdit::Kind::Whole, int32_t where = 0);
        ~EditScope();
        EditScope(const EditScope&) = delete;
        EditScope& operator=(const EditScope&) = delete;

    private:
        MainForm* Form_;
    };
    [[nodiscard]] EditScope Edit(const std::string& label, uint64_t key = 0) { return EditScope(*this, label, key); }

    // The envelope dialog's controls, whose values the pattern file carries too: undo sets
    // them through this (when unset, the synth's values are set directly).
    std::function<ValueControl*(ControlId)> OuterControl;
    // The name an edit of a control's value has in the Edit menu ("Cut-off", "Twin-T decay").
    static std::string EditName(ControlId id);

private:
    static size_t Idx(int n) { return static_cast<size_t>(n - 1); }
    void Wire();
    void Register(Control& c) { All_.push_back(&c); }
    void ControlChange(ControlId id);
    void Transpose(int delta);
    void CopyPattern(int32_t pattern);
    void PastePattern(int32_t pattern);
    void PaintLedUnlessMaroon(int32_t step, Colour c);
    void UpdateUndoMenu();
    void RestoreEditState(const std::vector<uint8_t>& bytes);
    uint64_t ControlKey(ControlId id) const;
    SynthEdit DescribeEdit(SynthEdit::Kind what, int32_t where, const std::vector<uint8_t>& before,
                           const std::vector<uint8_t>& after) const;
    void Edited(const SynthEdit& e);
    uint64_t StepKey(uint64_t kind, int32_t n) const;
    StepRecord& EditedStep() { return Store.Step(ClampPattern(PlayPattern), ClampStep(EditStep)); }

    // What the sequencer reports, shown on the controls.
    void StepAdvanced(int32_t from, int32_t to) override;
    void PatternChanged() override;
    void PhraseStarted(int32_t k) override { PhraseLabel(k).SetFontColour(Colours::Aqua); }
    void SongEnded() override { Button2Click(); }
    void StepLoaded() override {
        if (OnStepLoaded) OnStepLoaded();
    }

    std::array<std::unique_ptr<NoteSlider>, kStepsPerPattern> Sliders_;
    std::array<std::unique_ptr<Label>, kStepsPerPattern> NoteLabels_;
    std::array<std::unique_ptr<Led>, kStepsPerPattern> Leds_;
    std::array<std::unique_ptr<LedButton>, kStepsPerPattern> PatternButtons_;
    std::array<std::unique_ptr<SpinEdit>, kPhraseCount> PhrasePatternSpins_;
    std::array<std::unique_ptr<SpinEdit>, kPhraseCount> PhraseCountSpins_;
    std::array<std::unique_ptr<Label>, kPhraseCount> PhraseLabels_;

    std::array<ValueControl*, kControlCount> ById_{}; // by ControlId

    std::vector<Control*> All_;
    TransportDevice* Device_ = nullptr;
    RecordingSink* Sink_ = nullptr;
    TMMReverb* Reverb_ = nullptr;
    TMMDSPComponent* DspSource_ = nullptr;

    // The edit scope in progress: depth, and the state and name taken when it began.
    int EditDepth_ = 0;
    bool Restoring_ = false; // undo or redo is setting the controls: nothing is recorded
    std::vector<uint8_t> EditBefore_;
    std::string EditLabel_;
    uint64_t EditKey_ = 0;
    SynthEdit::Kind EditWhat_ = SynthEdit::Kind::Whole;
    int32_t EditWhere_ = 0;
    uint64_t Edits_ = 0;
};

} // namespace zelvox
