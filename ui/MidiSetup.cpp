#include "ui/MidiSetup.h"

#include <algorithm>
#include <cstdio>
#include <optional>

namespace zelvox {

namespace {

constexpr const char* kSection = "MIDI";

// The slots a Control Change may drive, in the order they are applied.
constexpr int kUsedSlots[] = {0, 1, 2, 3, 4, 5, 6, 10, 11, 12, 20, 21, 22, 23};

} // namespace

CcTable ReadControllerTable(const TSettingsFile& settings) {
    CcTable table{};
    for (int n = 0; n < kCCSlots; ++n) table[size_t(n)] = settings.ReadInteger(kSection, std::to_string(n), 0);
    return table;
}

TForm4::TForm4(MidiInService& service, MainThreadQueue* queue, const TSettingsFile& settings,
               const MidiKnobTable& knobs, const MidiLearn::Targets& learnTargets)
    : Learn(settings), Service_(service), Settings_(settings), Knobs_(knobs) {
    Form4.SetCaption("MIDI Setup");
    Form4.SetVisible(false);
    GroupBox1.SetCaption("MIDI Device Settings");
    GroupBox2.SetCaption("Assign CC's");
    GroupBox3.SetCaption("MIDI learn");
    Learn.SetTargets(learnTargets);
    Learn.AddViewListener([this] { RefreshLearnList(); });
    LearnList.OnChange = [this] { Button3.SetEnabled(LearnList.ItemIndex() >= 0); };
    Button3.OnClick = [this] { Button3Click(); };
    Button4.OnClick = [this] { Button4Click(); };
    Button3.SetEnabled(false); // nothing listed, nothing chosen
    Button4.SetEnabled(false);
    GroupBox4.SetCaption("Notes in");
    // Switched off, the bass plays as written again from the next step.
    NotesTranspose.OnClick = [this] {
        if (!NotesTranspose.Checked() && OnNote) OnNote({NoteInAction::Kind::Transpose, 0});
    };
    SComboBox971.SetItems({"Attack", "Decay", "Cut-off", "Resonance", "Env-Mod", "Volume", "Length"});
    SComboBox972.SetItems({"Decay", "Env-Mod", "Volume"});
    SComboBox973.SetItems({"Decay", "Env-mod", "Colour", "Volume"});

    try {
        MidiInput1 = std::make_unique<TMidiInput>(service, queue);
        MidiInput1->SetSysexBufferSize(4096);
        MidiInput1->OnMidiInput = [this](TMidiInput& sender) { MidiInput1MidiInput(sender); };
        MidiInput1->OnDeviceGone = [this](TMidiInput& sender) { MidiInput1DeviceGone(sender); };
    } catch (const EMidiInputError&) {
        // No MIDI input device on this system ("Invalid device ID"): the program runs on
        // without MIDI, and the dialog says so.
        MidiInput1.reset();
        NoDeviceText_ = kNoDeviceText;
        const std::string why = service.NoDeviceReason();
        if (!why.empty()) NoDeviceText_ += " (" + why + ")";
    }

    Combobox1.OnChange = [this] { Combobox1Change(); };
    CheckBox1.OnClick = [this] { CheckBox1Click(); };
    for (int voice = 0; voice < 3; ++voice) {
        Group(voice).Function.OnChange = [this, voice] { FunctionChosen(voice); };
        Group(voice).Controller.OnChange = [this, voice] { ControllerChanged(voice); };
    }
    Button1.OnClick = [this] { Button1Click(); };
    Button2.OnClick = [this] { Button2Click(); };

    FormCreate();
}

TForm4::~TForm4() {
    // The device may still be open; TMidiInput closes it. Nothing may call back into the
    // dialog from here on.
    if (MidiInput1) {
        MidiInput1->OnMidiInput = nullptr;
        MidiInput1->OnDeviceGone = nullptr;
    }
}

void TForm4::FormCreate() {
    for (int n = 0; n < kCCSlots; ++n)
        CCTable[n] = Settings_.ReadInteger(kSection, std::to_string(n), 0);
    SpinEdit971.SetValue(Settings_.ReadInteger(kSection, "CHANNEL", 0));
    NotesTranspose.SetChecked(Settings_.ReadBool(kSection, "NotesTranspose", false));
    NotesChannel.SetValue(Settings_.ReadInteger(kSection, "NotesChannel", 1));
    NotesRoot.SetValue(Settings_.ReadInteger(kSection, "NotesRoot", 60));
    NotesPatterns.SetChecked(Settings_.ReadBool(kSection, "NotesPatterns", false));
    NotesFirstPattern.SetValue(Settings_.ReadInteger(kSection, "NotesFirstPattern", 36));
    Learn.Load();
    RefreshLearnList();

    DevicesOpen = false;
    std::vector<std::string> names;
    std::string listError;
    if (MidiInput1) {
        try {
            for (uint16_t id = 0; id < MidiInput1->NumDevices(); ++id) {
                MidiInput1->SetDeviceID(id);
                names.push_back(MidiInput1->ProductName());
            }
        } catch (const EMidiInputError& e) {
            // A device whose details cannot be read ends the list there; start-up goes on.
            listError = e.what();
        }
    }
    // The device chosen last time, when it is there; else the first.
    const std::string saved = Settings_.ReadString(kSection, "DEVICE", "");
    const auto found = std::find(names.begin(), names.end(), saved);
    const int32_t chosen = saved.empty() || found == names.end() ? 0 : int32_t(found - names.begin());
    Combobox1.SetItems(std::move(names));
    Combobox1.SetItemIndex(chosen); // the check box is still clear: nothing opens
    if (!MidiInput1) SetStatus(NoDeviceText_);
    if (!listError.empty()) SetStatus(listError);

    // Ticking the box runs CheckBox1Click, which opens the device. A failure must not stop
    // the program from starting: it is shown in the dialog and on the status bar instead.
    const bool enabled = Settings_.ReadBool(kSection, "ENABLED", false);
    try {
        const bool changes = CheckBox1.Checked() != enabled;
        CheckBox1.SetChecked(enabled);
        if (!changes) OpenDevs(); // the click did not run, so nothing has tried to open yet
    } catch (const EMidiInputError& e) {
        SetStatus(e.what());
    }
    if (enabled && !DevicesOpen) StartupProblem_ = MidiStatus.Caption();

    SComboBox971.SetItemIndex(0);
    SComboBox972.SetItemIndex(0);
    SComboBox973.SetItemIndex(0);
}

std::string TForm4::ComboText() const {
    const int32_t i = Combobox1.ItemIndex();
    if (i < 0 || i >= static_cast<int32_t>(Combobox1.Items.size())) return {};
    return Combobox1.Items[i];
}

void TForm4::OpenDevs() {
    if (DevicesOpen || !CheckBox1.Checked()) return;
    if (!MidiInput1) {
        SetStatus(NoDeviceText_);
        return;
    }
    const std::string name = ComboText();
    MidiInput1->SetProductName(name); // a name no device has raises "... not installed "
    if (!MidiInput1->Open()) {
        // Open raises nothing; say what happened instead of pretending the device is open.
        SetStatus("The MIDI input device " + name + " could not be opened: " +
                  MidiInput1->OpenFailureText());
        return;
    }
    MidiInput1->Start();
    DevicesOpen = true;
    SetStatus("");
}

void TForm4::CloseDevs() {
    if (!DevicesOpen) return;
    DevicesOpen = false;
    MidiInput1->Close();
}

void TForm4::Combobox1Change() {
    CloseDevs();
    OpenDevs();
}

void TForm4::CheckBox1Click() {
    CloseDevs();
    if (!CheckBox1.Checked() && MidiInput1) SetStatus("");
    OpenDevs();
}

// The three voice groups of the controller table: the function chosen, the controller number
// shown for it, and where the voice's slots begin.
TForm4::VoiceGroup TForm4::Group(int voice) {
    switch (voice) {
    case 0:
        return {SComboBox971, SpinEdit972, 0};
    case 1:
        return {SComboBox972, SpinEdit973, 10};
    default:
        return {SComboBox973, SpinEdit974, 20};
    }
}

// SComboBox971Change .. SComboBox973Change: show the chosen function's controller number.
void TForm4::FunctionChosen(int voice) {
    const VoiceGroup g = Group(voice);
    const int32_t i = g.Function.ItemIndex();
    if (i >= 0) g.Controller.SetValue(CCTable[size_t(g.FirstSlot + i)]);
}

// SpinEdit972Change .. SpinEdit974Change: the chosen function takes the controller number.
void TForm4::ControllerChanged(int voice) {
    const VoiceGroup g = Group(voice);
    const int32_t i = g.Function.ItemIndex();
    if (i >= 0) CCTable[size_t(g.FirstSlot + i)] = g.Controller.Value();
}

void TForm4::MidiInput1MidiInput(TMidiInput& sender) {
    do {
        std::unique_ptr<TMyMidiEvent> event = sender.NextEvent();
        if (event) DoEvent(*event);
    } while (sender.PendingCount() > 0);
}

void TForm4::MidiInput1DeviceGone(TMidiInput& sender) {
    // The component has closed the device already. "Enable MIDI" stays ticked: it is what the
    // user wants, and ticking it again or pressing OK opens the device anew.
    if (!DevicesOpen) return;
    DevicesOpen = false;
    const std::string text = "The MIDI input device " + ComboText() + " stopped working: " +
                             sender.GoneReason() +
                             ". Tick \"Enable MIDI\" again or press OK in the MIDI setup to "
                             "open it again.";
    SetStatus(text);
    if (OnProblem) OnProblem(text);
}

void TForm4::DoEvent(const TMyMidiEvent& event) {
    char text[16];
    std::snprintf(text, sizeof text, "%02X %02X %02X", event.Status, event.Param1, event.Param2);
    edit1.SetCaption(text);

    // Learned controllers name their own channel: the channel filter is for the table below.
    Learn.HandleMessage(event.Status, event.Param1, event.Param2);

    // Notes in have their own channel.
    const uint8_t msg[3] = {event.Status, event.Param1, event.Param2};
    const NoteInAction note = ReadNoteIn(NotesIn(), msg, 3);
    if (note.What != NoteInAction::Kind::None && OnNote) OnNote(note);

    const int32_t channel = SpinEdit971.Value();
    if (channel != 0 && channel != (event.Status & 0x0F)) return;
    if ((event.Status >> 4) != 0xB) return;

    const int32_t cc = event.Param1;
    const int32_t v = event.Param2;
    for (int slot : kUsedSlots)
        if (CCTable[slot] == cc && Knobs_[slot] != nullptr)
            Knobs_[slot]->SetValue(MidiKnobValue(slot, v));
}

void TForm4::Button1Click() {
    for (int n = 0; n < kCCSlots; ++n)
        Settings_.WriteInteger(kSection, std::to_string(n), CCTable[n]);
    Settings_.WriteBool(kSection, "ENABLED", CheckBox1.Checked());
    Settings_.WriteInteger(kSection, "CHANNEL", SpinEdit971.Value());
    if (!ComboText().empty()) Settings_.WriteString(kSection, "DEVICE", ComboText());
    Settings_.WriteBool(kSection, "NotesTranspose", NotesTranspose.Checked());
    Settings_.WriteInteger(kSection, "NotesChannel", NotesChannel.Value());
    Settings_.WriteInteger(kSection, "NotesRoot", NotesRoot.Value());
    Settings_.WriteBool(kSection, "NotesPatterns", NotesPatterns.Checked());
    Settings_.WriteInteger(kSection, "NotesFirstPattern", NotesFirstPattern.Value());
    // A device that went away (or never opened) is opened again when MIDI is enabled.
    try {
        OpenDevs();
    } catch (const EMidiInputError& e) {
        SetStatus(e.what());
    }
    Form4.SetVisible(false);
}

NotesInSetup TForm4::NotesIn() const {
    NotesInSetup s;
    s.Transpose = NotesTranspose.Checked();
    s.Patterns = NotesPatterns.Checked();
    s.Channel = NotesChannel.Value() - 1;
    s.Root = NotesRoot.Value();
    s.FirstPattern = NotesFirstPattern.Value();
    return Limited(s);
}

void TForm4::Button2Click() { Form4.SetVisible(false); }

void TForm4::Button3Click() {
    const int32_t i = LearnList.ItemIndex();
    if (i >= 0 && size_t(i) < LearnRows_.size()) Learn.Clear(LearnRows_[size_t(i)]);
}

void TForm4::Button4Click() { Learn.ClearAll(); }

void TForm4::RefreshLearnList() {
    const std::vector<MidiLearn::Entry> entries = Learn.Entries();
    std::vector<ControlId> rows;
    std::vector<std::string> items;
    for (const MidiLearn::Entry& e : entries) {
        rows.push_back(e.Id);
        items.push_back(e.Text);
    }
    if (rows == LearnRows_ && items == LearnList.Items) return; // a status change only
    // The same control stays chosen when it is still listed.
    const int32_t old = LearnList.ItemIndex();
    const std::optional<ControlId> chosen =
        old >= 0 && size_t(old) < LearnRows_.size() ? std::optional(LearnRows_[size_t(old)]) : std::nullopt;
    LearnRows_ = std::move(rows);
    LearnList.SetItems(std::move(items));
    int32_t index = -1;
    for (size_t i = 0; i < LearnRows_.size(); ++i)
        if (chosen == LearnRows_[i]) index = int32_t(i);
    LearnList.SetItemIndex(index);
    Button4.SetEnabled(!LearnRows_.empty());
}

} // namespace zelvox
