// The main window: its controls, their wiring, start-up and the page switches.

#include "ui/MainForm.h"

#include "files/MMFormat.h"
#include "audio/DelayDepth.h"
#include "ui/ControlText.h"
#include "engine/Tables.h"
#include "sequencer/PatternDefaults.h"

namespace zelvox {

namespace {

// Names of the phrase number labels, by phrase (the window's layout numbered them out of order).
constexpr int kPhraseLabelNumber[kPhraseCount] = {33, 35, 36, 37, 38, 39, 40, 41,
                                                  49, 48, 47, 46, 45, 42, 44, 43};

} // namespace

MainForm::MainForm(PatternSynth& synth) : Synth(synth) {
    Form1.SetCaption("Zelvox");
    for (ValueControl* c : std::initializer_list<ValueControl*>{
             &MMWheel1, &MMWheel2, &MMWheel3, &MMWheel4, &MMWheel5, &MMWheel7, &MMWheel9,
             &MMSwitch1, &MMSlider17, &MMWheel8, &MMWheel10, &MMWheel11, &MMWheel12, &MMWheel14,
             &MMWheel13, &MMWheel15, &MMWheel6, &MMWheel16, &MMWheel17, &SpinEdit971, &SpinEdit972}) {
        for (const ControlRow& row : kControls)
            if (row.Panel != ControlPanel::Envelopes && c->Name == row.DesignName)
                ById_[static_cast<size_t>(row.Id)] = c;
    }

    for (int n = 1; n <= kStepsPerPattern; ++n) {
        const std::string num = std::to_string(n);
        // The note sliders start at the default note, so the first UpdateDisplay moves none
        // of them and step 1 stays the edit step after start-up.
        Sliders_[Idx(n)] = std::make_unique<NoteSlider>("MMSlider" + num, 1, kNoteCount, kDefaultNote);
        NoteLabels_[Idx(n)] = std::make_unique<Label>(
            "Label" + std::to_string(n == 1 ? 1 : n + 6), NoteNames[kDefaultNote], Colours::Black);
        Leds_[Idx(n)] = std::make_unique<Led>("MMLED" + num, Colours::Black);
        PatternButtons_[Idx(n)] = std::make_unique<LedButton>("LEDButton" + num, num);
        PhrasePatternSpins_[Idx(n)] = std::make_unique<SpinEdit>(
            (n == 1 ? "spin" : "Spin") + num + "p", 0, kPhrasePatternMax, 0);
        PhraseCountSpins_[Idx(n)] =
            std::make_unique<SpinEdit>("Spin" + num + "c", 0, kPhraseCountMax, 0);
        PhraseLabels_[Idx(n)] = std::make_unique<Label>(
            "Label" + std::to_string(kPhraseLabelNumber[Idx(n)]), num, Colours::White);
    }
    LEDButton(1).SetLedOn(true);
    PhraseHeadings[0] = std::make_unique<Label>("PhraseHeading1", "Phrase", Colours::White);
    PhraseHeadings[1] = std::make_unique<Label>("CountHeading1", "Count", Colours::White);
    PhraseHeadings[2] = std::make_unique<Label>("PhraseHeading2", "Phrase", Colours::White);
    PhraseHeadings[3] = std::make_unique<Label>("CountHeading2", "Count", Colours::White);

    AllNotes1.SetChecked(true);
    TwinTPanel.SetVisible(false);
    NoisePanel.SetVisible(false);
    ArrangerPanel.SetVisible(false);

    Wire();
    Synth.Seq.SetListener(this);
}

MainForm::~MainForm() {
    Synth.Seq.SetListener(nullptr);
}

void MainForm::Wire() {
    for (const ControlRow& row : kControls)
        if (ValueControl* c = ControlFor(row.Id)) {
            c->OnChange = [this, id = row.Id] { ControlChange(id); };
            // Read in the control's units; the Delay knob's milliseconds follow the tempo shown.
            c->ValueText = [this, id = row.Id](int32_t v) { return ControlValueText(id, v, SpinEdit972.Value()); };
        }
    Button1.OnClick = [this] { Button1Click(); };
    Button2.OnClick = [this] { Button2Click(); };
    MMLabel1.OnClick = [this] { MMLabel1Click(); };
    MMLabel2.OnClick = [this] { MMLabel2Click(); };
    MMLabel3.OnClick = [this] { MMLabel3Click(); };
    MMLabel4.OnClick = [this] { MMLabel4Click(); };

    for (int n = 1; n <= kStepsPerPattern; ++n) {
        MMSlider(n).OnChange = [this, n] { MMSliderChange(n); };
        MMSlider(n).OnEnter = [this, n] {
            // One slider holds the focus at a time.
            for (int m = 1; m <= kStepsPerPattern; ++m)
                if (m != n) MMSlider(m).FocusOut();
            MMSliderEnter(n);
        };
        MMLED(n).OnClick = [this, n] { MMSliderEnter(n); };
        LEDButton(n).OnClick = [this, n] { LEDButtonClick(n); };
        LEDButton(n).OnMouseMove = [this, n] { SpeedButtonMouseMove(n); };
        PhrasePatternSpin(n).OnChange = [this, n] { SpinPatternChange(n); };
        PhraseCountSpin(n).OnChange = [this, n] { SpinCountChange(n); };
    }

    AllNotes1.OnClick = [this] { AllNotes1Click(); };
    SelectedNote1.OnClick = [this] { SelectedNote1Click(); };
    Synth1.OnClick = [this] { Synth1Click(); };
    SSynth1.OnClick = [this] { SSynth1Click(); };
    Noisesynth1.OnClick = [this] { Noisesynth1Click(); };
    Arranger1.OnClick = [this] { Arranger1Click(); };
    Copy2.OnClick = [this] { Copy2Click(); };
    Paste2.OnClick = [this] { Paste2Click(); };
    Copy1.OnClick = [this] { Copy1Click(); };
    Paste1.OnClick = [this] { Paste1Click(); };
    Play1.OnClick = [this] { Play1Click(); };
    Slide1.OnClick = [this] { Slide1Click(); };
    Undo1.OnClick = [this] { Undo1Click(); };
    Redo1.OnClick = [this] { Redo1Click(); };
    Undo1.SetEnabled(false);
    Redo1.SetEnabled(false);

    for (Control* c : std::initializer_list<Control*>{
             &Form1, &BassPanel, &TwinTPanel, &NoisePanel, &EditorPanel, &ArrangerPanel,
             &MMWheel1, &MMWheel2, &MMWheel3, &MMWheel4, &MMWheel5, &MMWheel7, &MMWheel9,
             &MMSwitch1, &MMSlider17, &MMWheel8, &MMWheel10, &MMWheel11, &MMWheel12,
             &MMWheel13, &MMWheel14, &MMWheel15, &MMWheel6, &MMWheel16, &MMWheel17,
             &SpinEdit971, &SpinEdit972, &Button1, &Button2, &MMLabel1, &MMLabel2, &MMLabel3,
             &MMLabel4, &AllNotes1, &SelectedNote1, &Synth1, &SSynth1, &Noisesynth1,
             &Arranger1, &Copy2, &Paste2, &Copy1, &Paste1, &Play1, &Slide1, &Undo1, &Redo1})
        Register(*c);
    for (int n = 1; n <= kStepsPerPattern; ++n) {
        Register(MMSlider(n));
        Register(NoteLabel(n));
        Register(MMLED(n));
        Register(LEDButton(n));
        Register(PhrasePatternSpin(n));
        Register(PhraseCountSpin(n));
        Register(PhraseLabel(n));
    }
    for (auto& h : PhraseHeadings) Register(*h);
}

Control* MainForm::FindControl(const std::string& name) const {
    for (Control* c : All_)
        if (c->Name == name) return c;
    return nullptr;
}

void MainForm::FormCreate() {
    if (Reverb_) DelayDepthStartup(*Reverb_);
    EditStep = 1;
    PlayPattern = 1;
    QueuedPattern = 1;
    SelectedNoteMode = false;
    Eng.S.ArrangerMode = false;
    RecordingArmed = false;
    Eng.S.SampleCount = 0;
    Eng.S.Playing = false;

    InitNoteNames();
    InitState();

    MMSlider(1).SetFocus();
    Eng.S.CurStep = 1;
    Eng.S.NextStep = 2;
    Eng.S.PrevStep = Steps();
    // The wave tables were built when the engine was constructed.
    if (DspSource_) {
        const auto format = PcmWaveFormat(16, 1, kSampleRate);
        DspSource_->SetWaveFormat(&format);
    }
    Eng.S.MoreBuffers = true;
    SpinEdit971Change();
    ClearHistory(); // start-up is not an edit
}

void MainForm::SetDspSource(TMMDSPComponent* head) { DspSource_ = head; }

void MainForm::FormClose() { Button2Click(); }

// The note names are constants (sequencer/NoteNames.h) and the sliders, step LEDs and phrase
// labels are addressed by number through the arrays built with the window, so nothing is
// left to fill here; kept so that start-up reads as the window's creation sequence.
void MainForm::InitNoteNames() {}

void MainForm::InitState() {
    InitPatternStoreDefaults(Store); // the initial values, and slot 0 silent
    MMSlider(1).SetFocus();
    EditStep = 1;
    UpdateDisplay();
    UpdateSynth();
    for (int s = 1; s <= kStepsPerPattern; ++s) Store.Step(0, s).BassVolume = 0;
}

// ---- Page switches ----

namespace {

// What each page shows: the knob strip, the editor or the phrase table, the start button's
// caption and the window title.
struct PageLook {
    bool Labels; // the note names under the sliders (not on the Noise page)
    bool Bass, TwinT, Noise, Arranger;
    const char* StartCaption;
    const char* Title;
};
constexpr PageLook kPages[] = {
    {true, true, false, false, false, "Loop", "Zelvox Bass-Synth"},
    {true, false, true, false, false, "Loop", "Zelvox Twin-T Synth"},
    {false, false, false, true, false, "Loop", "Zelvox Noise Synth"},
    {true, true, false, false, true, "Play", "Zelvox Arranger"},
};

} // namespace

// Synth1Click, SSynth1Click, Noisesynth1Click, Arranger1Click. Entering the arranger stops
// the transport; the editor pages show the pattern's notes for their voice.
void MainForm::ShowPage(uint8_t mode) {
    // The sliders show the page's notes and write back what they cannot show.
    static constexpr const char* kPageNames[] = {"Bass synth", "Twin-T synth", "Noise synth", "Arranger"};
    const EditScope edit(*this, kPageNames[mode <= kModeArranger ? mode : uint8_t{kModeBass}], 0,
                         SynthEdit::Kind::Pattern, PlayPattern);
    const PageLook& look = kPages[mode <= kModeArranger ? mode : uint8_t{kModeBass}];
    const bool arranger = mode == kModeArranger;
    if (!arranger) {
        if (look.Labels) EnableLabels();
        else DisableLabels();
    }
    BassPanel.SetVisible(look.Bass);
    TwinTPanel.SetVisible(look.TwinT);
    NoisePanel.SetVisible(look.Noise);
    ArrangerPanel.SetVisible(look.Arranger);
    EditorPanel.SetVisible(!arranger);
    Button1.SetCaption(look.StartCaption);
    SynthMode = arranger ? uint8_t{kModeArranger} : mode;
    if (arranger) Button2Click();
    else UpdateDisplay();
    Form1.SetCaption(look.Title);
    Synth.Seq.SetSongMode(arranger);
}

} // namespace zelvox
