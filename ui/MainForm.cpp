// The main window: its controls, their wiring, start-up and the page switches.

#include "ui/MainForm.h"

#include "audio/MMFormat.h"
#include "engine/DelayDepth.h"
#include "engine/Tables.h"
#include "sequencer/PatternDefaults.h"

namespace zelvox {

namespace {

// Names of the phrase number labels, by phrase (the window's layout numbered them out of order).
constexpr int kPhraseLabelNumber[kPhraseCount] = {33, 35, 36, 37, 38, 39, 40, 41,
                                                  49, 48, 47, 46, 45, 42, 44, 43};

} // namespace

MainForm::MainForm() : Eng(Store, PlayPattern, MMWheel6.ValueRef()) {
    Form1.SetCaption("Zelvox");
    MMWheel1.SetCaption("Attack");
    MMWheel2.SetCaption("Decay");
    MMWheel3.SetCaption("Cut-off");
    MMWheel4.SetCaption("Res.");
    MMWheel5.SetCaption("Env mod");
    MMWheel7.SetCaption("Volume");
    MMWheel9.SetCaption("Length");
    MMWheel8.SetCaption("Decay");
    MMWheel10.SetCaption("Env mod");
    MMWheel11.SetCaption("Volume");
    MMWheel12.SetCaption("Decay");
    MMWheel13.SetCaption("Env mod");
    MMWheel14.SetCaption("Colour");
    MMWheel15.SetCaption("Volume");
    MMWheel6.SetCaption("Volume");
    MMWheel16.SetCaption("Delay");
    MMWheel17.SetCaption("Depth");
    SpinEdit971.SetCaption("Steps");
    SpinEdit972.SetCaption("Tempo");

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

    SoundControls_ = {{
        {&MMWheel1, &StepRecord::BassAttack},
        {&MMWheel2, &StepRecord::BassDecay},
        {&MMWheel3, &StepRecord::BassCutoff},
        {&MMWheel4, &StepRecord::BassResonance},
        {&MMWheel5, &StepRecord::BassEnvMod},
        {&MMWheel7, &StepRecord::BassVolume},
        {&MMWheel9, &StepRecord::BassLength},
        {&MMSwitch1, &StepRecord::BassWaveform},
        {&MMSlider17, &StepRecord::BassAmpSwitch},
        {&MMWheel8, &StepRecord::TwinTDecay},
        {&MMWheel10, &StepRecord::TwinTEnvMod},
        {&MMWheel11, &StepRecord::TwinTVolume},
        {&MMWheel12, &StepRecord::NoiseDecay},
        {&MMWheel14, &StepRecord::NoiseColour},
        {&MMWheel13, &StepRecord::NoiseEnvMod},
        {&MMWheel15, &StepRecord::NoiseVolume},
    }};

    Wire();
    Eng.SetSeqStepHook(&MainForm::StaticSeqStep, this);
}

MainForm::~MainForm() {
    Eng.SetSeqStepHook(nullptr, nullptr);
    if (DspSource_) DspSource_->OnBufferLoad = nullptr;
}

void MainForm::Wire() {
    for (size_t i = 0; i < SoundControls_.size(); ++i)
        SoundControls_[i].Control->OnChange = [this, i] { SoundControlChange(i); };
    MMWheel16.OnChange = [this] { MMWheel16Change(); };
    MMWheel17.OnChange = [this] { MMWheel17Change(); };
    SpinEdit971.OnChange = [this] { SpinEdit971Change(); };
    SpinEdit972.OnChange = [this] { SpinEdit971Change(); };
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

    for (Control* c : std::initializer_list<Control*>{
             &Form1, &BassPanel, &TwinTPanel, &NoisePanel, &EditorPanel, &ArrangerPanel,
             &MMWheel1, &MMWheel2, &MMWheel3, &MMWheel4, &MMWheel5, &MMWheel7, &MMWheel9,
             &MMSwitch1, &MMSlider17, &MMWheel8, &MMWheel10, &MMWheel11, &MMWheel12,
             &MMWheel13, &MMWheel14, &MMWheel15, &MMWheel6, &MMWheel16, &MMWheel17,
             &SpinEdit971, &SpinEdit972, &Button1, &Button2, &MMLabel1, &MMLabel2, &MMLabel3,
             &MMLabel4, &AllNotes1, &SelectedNote1, &Synth1, &SSynth1, &Noisesynth1,
             &Arranger1, &Copy2, &Paste2, &Copy1, &Paste1, &Play1, &Slide1})
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
}

void MainForm::SetDspSource(TMMDSPComponent* head) {
    if (DspSource_) DspSource_->OnBufferLoad = nullptr;
    DspSource_ = head;
    if (head)
        head->OnBufferLoad = [this](TObject* sender, PWaveHdr hdr, bool& more) {
            MMWaveOut2BufferLoad(sender, hdr, more);
        };
}

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

void MainForm::Synth1Click() {
    EnableLabels();
    BassPanel.SetVisible(true);
    TwinTPanel.SetVisible(false);
    NoisePanel.SetVisible(false);
    ArrangerPanel.SetVisible(false);
    EditorPanel.SetVisible(true);
    Button1.SetCaption("Loop");
    SynthMode = kModeBass;
    UpdateDisplay();
    Form1.SetCaption("Zelvox Bass-Synth");
    Eng.S.ArrangerMode = false;
}

void MainForm::SSynth1Click() {
    EnableLabels();
    Form1.SetCaption("Zelvox Twin-T Synth");
    BassPanel.SetVisible(false);
    NoisePanel.SetVisible(false);
    ArrangerPanel.SetVisible(false);
    EditorPanel.SetVisible(true);
    Button1.SetCaption("Loop");
    TwinTPanel.SetVisible(true);
    SynthMode = kModeTwinT;
    UpdateDisplay();
    Eng.S.ArrangerMode = false;
}

void MainForm::Noisesynth1Click() {
    DisableLabels();
    BassPanel.SetVisible(false);
    EditorPanel.SetVisible(true);
    ArrangerPanel.SetVisible(false);
    NoisePanel.SetVisible(true);
    TwinTPanel.SetVisible(false);
    Button1.SetCaption("Loop");
    Form1.SetCaption("Zelvox Noise Synth");
    Eng.S.ArrangerMode = false;
    SynthMode = kModeNoise;
    UpdateDisplay();
}

void MainForm::Arranger1Click() {
    EditorPanel.SetVisible(false);
    ArrangerPanel.SetVisible(true);
    NoisePanel.SetVisible(false);
    TwinTPanel.SetVisible(false);
    BassPanel.SetVisible(true);
    Button1.SetCaption("Play");
    SynthMode = kModeArranger;
    Button2Click();
    Form1.SetCaption("Zelvox Arranger");
    Eng.S.ArrangerMode = true;
}

} // namespace zelvox
