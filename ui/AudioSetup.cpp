#include "ui/AudioSetup.h"

#include <algorithm>
#include <initializer_list>

namespace zelvox {

namespace {
constexpr const char* kNotFound = " (not found)";

bool SameOutput(const AudioBackendChoice& a, const AudioBackendChoice& b) {
    return a.Api == b.Api && a.Device == b.Device && a.Connect == b.Connect;
}
} // namespace

TAudioSetupForm::TAudioSetupForm(TMMWaveOut& device, const TSettingsFile& settings,
                                 AudioOutputProbe probe)
    : Device_(device), Settings_(settings), Probe_(std::move(probe)) {
    Button1.OnClick = [this] { Button1Click(); };
    Button2.OnClick = [this] { Button2Click(); };
    TrackBar1.OnChange = [this] { ShowLatency(); };
    ComboBox1.OnChange = [this] { ComboBox1Change(); };
    CheckBox1.OnClick = [this] {
        if (CheckBox1.Checked()) CheckBox2.SetChecked(false);
    };
    CheckBox2.OnClick = [this] {
        if (CheckBox2.Checked()) CheckBox1.SetChecked(false);
    };
}

// The low-latency JACK output plays a period at a time; the buffers are the others'.
void TAudioSetupForm::ShowLatency() {
    const int32_t i = ComboBox1.ItemIndex();
    const bool live = i >= 0 && size_t(i) < ApiKeys_.size() && ApiKeys_[size_t(i)] == "jack-live";
    Label4.SetCaption(live ? std::string("one JACK period") : LatencyText(TrackBar1.Value()));
    // Its buffer count means nothing there: the slider is not offered (its value is kept).
    TrackBar1.SetEnabled(!live);
}

std::string TAudioSetupForm::LatencyText(int32_t buffers) {
    return std::to_string(int64_t(buffers) * kBufferMs) + " ms";
}

void TAudioSetupForm::FormCreate() {
    TrackBar1.SetValue(Settings_.ReadInteger("Audio", "Buffers", kDefaultBuffers));
    Label4.SetCaption(LatencyText(TrackBar1.Value()));
    Device_.SetNumBuffers(TrackBar1.Value());
    Device_.SetBufferSize(kBufferBytes);
    InUse_ = ReadAudioBackendChoice(Settings_);
}

void TAudioSetupForm::FormShow() {
    std::vector<std::string> present =
        Probe_.Apis ? Probe_.Apis() : std::vector<std::string>{"virtual"};
    ApiKeys_ = {"auto"};
    std::vector<std::string> titles = {AudioApiTitle("auto")};
    for (const std::string& api : present) {
        if (api == "auto") continue;
        ApiKeys_.push_back(api);
        titles.push_back(AudioApiTitle(api));
    }
    auto it = std::find(ApiKeys_.begin(), ApiKeys_.end(), InUse_.Api);
    if (it == ApiKeys_.end()) {
        ApiKeys_.push_back(InUse_.Api);
        titles.push_back(AudioApiTitle(InUse_.Api) + kNotFound);
        it = ApiKeys_.end() - 1;
    }
    const LiveSync sync = ReadLiveSync(Settings_);
    CheckBox1.SetChecked(sync.FollowTransport);
    CheckBox2.SetChecked(sync.FollowClock);
    CheckBox3.SetChecked(sync.SendClock);
    CheckBox4.SetChecked(sync.TimebaseMaster);
    CheckBox5.SetChecked(sync.SendNotes);
    // Under a session manager the session keeps the connections: the box shows it off.
    CheckBox6.SetChecked(InUse_.Connect);
    SpinEdit1.SetValue(sync.NotesBassChannel);
    SpinEdit2.SetValue(sync.NotesTwinTChannel);
    SpinEdit3.SetValue(sync.NotesNoiseChannel);
    SpinEdit4.SetValue(sync.NotesTwinTNote);
    SpinEdit5.SetValue(sync.NotesNoiseNote);
    ComboBox1.SetItems(std::move(titles));
    ComboBox1.SetItemIndex(int32_t(it - ApiKeys_.begin())); // fills the device list
}

LiveSync TAudioSetupForm::ChosenSync() const {
    return {CheckBox1.Checked(), CheckBox2.Checked() && !CheckBox1.Checked(), CheckBox3.Checked(),
            CheckBox4.Checked(), CheckBox5.Checked(), SpinEdit1.Value(), SpinEdit2.Value(),
            SpinEdit3.Value(), SpinEdit4.Value(), SpinEdit5.Value()};
}

void TAudioSetupForm::ComboBox1Change() {
    const int32_t i = ComboBox1.ItemIndex();
    const std::string api =
        i >= 0 && size_t(i) < ApiKeys_.size() ? ApiKeys_[size_t(i)] : InUse_.Api;
    DeviceNames_ = {""};
    std::vector<std::string> titles = {"Default"};
    // Automatic takes the default device of whichever system it finds; virtual has one.
    if (api != "auto" && api != "virtual" && Probe_.Devices)
        for (const std::string& name : Probe_.Devices(api)) {
            DeviceNames_.push_back(name);
            titles.push_back(name);
        }
    int32_t chosen = 0;
    if (api == InUse_.Api && !InUse_.Device.empty()) {
        auto it = std::find(DeviceNames_.begin(), DeviceNames_.end(), InUse_.Device);
        if (it == DeviceNames_.end()) {
            DeviceNames_.push_back(InUse_.Device);
            titles.push_back(InUse_.Device + kNotFound);
            it = DeviceNames_.end() - 1;
        }
        chosen = int32_t(it - DeviceNames_.begin());
    }
    ComboBox2.SetItems(std::move(titles));
    ComboBox2.SetItemIndex(chosen);
    ShowLatency();
    for (Control* c : std::initializer_list<Control*>{&CheckBox1, &CheckBox2, &CheckBox3, &CheckBox4,
                                                      &CheckBox5, &SpinEdit1, &SpinEdit2, &SpinEdit3,
                                                      &SpinEdit4, &SpinEdit5})
        c->SetEnabled(api == "jack-live");
    CheckBox6.SetEnabled((api == "jack" || api == "jack-live" || api == "auto") &&
                         !JackConnectionsBySession());
}

AudioBackendChoice TAudioSetupForm::Chosen() const {
    AudioBackendChoice c = InUse_;
    const int32_t a = ComboBox1.ItemIndex(), d = ComboBox2.ItemIndex();
    if (a < 0 || size_t(a) >= ApiKeys_.size()) return c; // the lists were never filled
    c.Api = ApiKeys_[size_t(a)];
    c.Device = d >= 0 && size_t(d) < DeviceNames_.size() ? DeviceNames_[size_t(d)] : std::string();
    c.Connect = CheckBox6.Checked() && !JackConnectionsBySession();
    return c;
}

void TAudioSetupForm::Button1Click() {
    const AudioBackendChoice choice = Chosen();
    Device_.Stop();
    Device_.Close();
    const bool changed = !SameOutput(choice, InUse_) && Probe_.Create;
    if (changed) {
        Device_.SetSystem(Probe_.Create(choice));
        InUse_ = choice;
    }
    Device_.SetNumBuffers(TrackBar1.Value());
    Device_.Reset();
    Device_.Open();
    Settings_.WriteInteger("Audio", "Buffers", TrackBar1.Value());
    if (!SameOutput(ReadAudioBackendChoice(Settings_), InUse_))
        WriteAudioBackendChoice(Settings_, InUse_);
    // The boxes show the settings only once FormShow has filled the lists. A new output
    // reads them as it opens; the low-latency output in use takes them at once.
    bool resynced = false;
    if (!ApiKeys_.empty() && !(ChosenSync() == ReadLiveSync(Settings_))) {
        WriteLiveSync(Settings_, ChosenSync());
        resynced = true;
    }
    if (changed && OnOutputChosen) OnOutputChosen(InUse_);
    if (resynced && !changed && InUse_.Api == "jack-live" && OnSyncChosen) OnSyncChosen(ChosenSync());
    if (OnHide) OnHide();
}

void TAudioSetupForm::Button2Click() {
    if (OnHide) OnHide();
}

} // namespace zelvox
