#pragma once
// The MIDI setup dialog's logic (TForm4, caption "MIDI Setup"): chooses the input device, the
// channel filter and whether MIDI is on, holds the table that assigns a controller number to
// each knob function, and turns received Control Change messages into knob values. Every
// control is a model (ui/Controls.h); a window attaches views to them.
//
// MIDI control works whether or not the dialog is shown: the object lives from start-up to the
// end of the program, and its FormCreate (run by the constructor) opens the device when the
// settings say MIDI is enabled.

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "midi/MidiIn.h"
#include "settings/Settings.h"
#include "sequencer/ControlTable.h"
#include "sequencer/NotesIn.h"
#include "ui/Controls.h"
#include "ui/MidiLearn.h"

namespace zelvox {


// A list box: the same model as a drop-down list (items, the chosen one, OnChange).
using ListBox = ComboBox;

// The knob each slot turns, by slot number; null for the slots no function uses.
using MidiKnobTable = std::array<Knob*, kCCSlots>;

// The dialog's controller table as the settings file keeps it (0 for a slot it lacks).
CcTable ReadControllerTable(const TSettingsFile& settings);

class TForm4 {
public:
    // Builds the dialog and runs FormCreate. The service, the queue, the settings file and
    // the knobs must outlive the dialog. queue null: the default main-thread queue.
    // learnTargets: the controls MIDI learn turns, by ControlId (null: listed, not turned).
    TForm4(MidiInService& service, MainThreadQueue* queue, const TSettingsFile& settings,
           const MidiKnobTable& knobs, const MidiLearn::Targets& learnTargets = {});
    ~TForm4();
    TForm4(const TForm4&) = delete;
    TForm4& operator=(const TForm4&) = delete;

    // ---- The window ----
    Control Form4{"Form4"}; // caption "MIDI Setup"; Visible = shown
    Control GroupBox1{"GroupBox1"};
    Label Label3{"Label3", "MIDI IN Device"};
    ComboBox Combobox1{"Combobox1"};
    Label Label1{"Label1", "MIDI channel"};
    SpinEdit SpinEdit971{"SpinEdit971", 0, 100, 0}; // channel filter, 0 = every channel
    Label Label2{"Label2", "Last MIDI "};
    Label Label4{"Label4", "message"};
    Label edit1{"edit1", ""}; // the last message, read-only text: "B0 07 64"
    Label Label10{"Label10", "Enable MIDI"};
    CheckBox CheckBox1{"CheckBox1", ""};
    // Not in the original layout: says plainly when there is no device or it did not open.
    Label MidiStatus{"MidiStatus", ""};
    Control GroupBox2{"GroupBox2"};
    Label Label5{"Label5", "Function"};
    Label Label6{"Label6", "Value (decimal)"};
    Label Label7{"Label7", "Bass Synth"};
    ComboBox SComboBox971{"SComboBox971"};
    SpinEdit SpinEdit972{"SpinEdit972", 0, 100, 0};
    Label Label8{"Label8", "Twin-T Synth"};
    ComboBox SComboBox972{"SComboBox972"};
    SpinEdit SpinEdit973{"SpinEdit973", 0, 100, 0};
    Label Label9{"Label9", "Noise Synth"};
    ComboBox SComboBox973{"SComboBox973"};
    SpinEdit SpinEdit974{"SpinEdit974", 0, 100, 0};
    // Not in the original layout: the controllers learned with "Learn MIDI controller",
    // one line each; "Clear" forgets the chosen one, "Clear all" every one, at once.
    Control GroupBox3{"GroupBox3"};
    ListBox LearnList{"LearnList"};
    Button Button3{"Button3", "Clear"};
    Button Button4{"Button4", "Clear all"};
    // Not in the original layout: notes played on a keyboard transpose the bass line from
    // the next step (relative to the root note) and, optionally, sixteen notes from a first
    // note choose patterns 1..16. Off until ticked; stored in the settings by "OK".
    Control GroupBox4{"GroupBox4"};
    Label NotesTransposeLabel{"NotesTransposeLabel", "Notes transpose"};
    CheckBox NotesTranspose{"NotesTranspose", ""};
    Label NotesChannelLabel{"NotesChannelLabel", "Notes channel"};
    SpinEdit NotesChannel{"NotesChannel", 1, 16, 1};
    Label NotesRootLabel{"NotesRootLabel", "Root note"};
    SpinEdit NotesRoot{"NotesRoot", 0, 127, 60};
    Label NotesPatternsLabel{"NotesPatternsLabel", "Notes choose patterns"};
    CheckBox NotesPatterns{"NotesPatterns", ""};
    Label NotesFirstPatternLabel{"NotesFirstPatternLabel", "Pattern 1 note"};
    SpinEdit NotesFirstPattern{"NotesFirstPattern", 0, 112, 36};
    Button Button1{"Button1", "OK"};
    Button Button2{"Button2", "Cancel"};

    // The learned controllers, read from the settings at start-up. Every message received
    // goes through it before the fixed table below.
    MidiLearn Learn;

    // The input component; null when the system has no MIDI input device at all.
    std::unique_ptr<TMidiInput> MidiInput1;

    // ---- Dialog state ----
    bool DevicesOpen = false;                // the dialog has MidiInput1 open
    std::array<int32_t, kCCSlots> CCTable{}; // controller number per slot

    // What the status bar should say after start-up: set when MIDI was enabled in the
    // settings but no input device exists or it could not be opened; empty otherwise.
    const std::string& StartupProblem() const { return StartupProblem_; }

    // The notes-in setup the controls above hold now.
    NotesInSetup NotesIn() const;
    // Called on the main thread for a note the notes-in setup acts on (the program
    // transposes the main window's sequencer or presses its pattern button).
    std::function<void(const NoteInAction&)> OnNote;

    // Called on the main thread when the open input device went away while enabled (its
    // server shut down), with the text the dialog shows; the program shows it to the user.
    std::function<void(const std::string&)> OnProblem;

    // ---- Handlers ----
    void FormCreate();
    void OpenDevs();
    void CloseDevs();
    void Combobox1Change();
    void CheckBox1Click();
    void SComboBox971Change() { FunctionChosen(0); }
    void SComboBox972Change() { FunctionChosen(1); }
    void SComboBox973Change() { FunctionChosen(2); }
    void SpinEdit972Change() { ControllerChanged(0); }
    void SpinEdit973Change() { ControllerChanged(1); }
    void SpinEdit974Change() { ControllerChanged(2); }
    // voice 0 bass, 1 Twin-T, 2 noise: a function chosen, a controller number changed.
    void FunctionChosen(int voice);
    void ControllerChanged(int voice);
    void MidiInput1MidiInput(TMidiInput& sender);
    void MidiInput1DeviceGone(TMidiInput& sender);
    void DoEvent(const TMyMidiEvent& event);
    void Button1Click(); // "OK": writes the settings (also the device, by name), closes
    void Button2Click(); // "Cancel": closes; edits stay in effect for this run
    void Button3Click(); // "Clear": the chosen learned controller
    void Button4Click(); // "Clear all"
    void Show() { Form4.SetVisible(true); } // Setup -> "&MIDI"

    // The text the dialog shows when there is no MIDI input device.
    static constexpr const char* kNoDeviceText = "No MIDI input device was found.";

private:
    struct VoiceGroup {
        ComboBox& Function;
        SpinEdit& Controller;
        int FirstSlot;
    };
    VoiceGroup Group(int voice);
    std::string ComboText() const;
    void SetStatus(const std::string& text) { MidiStatus.SetCaption(text); }
    void RefreshLearnList(); // the list and its buttons after a change of the learned map
    std::vector<ControlId> LearnRows_; // the control of each line of LearnList

    [[maybe_unused]] MidiInService& Service_; // the service the dialog was built on
    const TSettingsFile& Settings_;
    MidiKnobTable Knobs_;
    std::string StartupProblem_;
    std::string NoDeviceText_; // kNoDeviceText and the service's reasons
};


} // namespace zelvox
