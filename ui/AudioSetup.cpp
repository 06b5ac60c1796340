#include "ui/AudioSetup.h"

namespace zelvox {

TAudioSetupForm::TAudioSetupForm(TMMWaveOut& device, const TSettingsFile& settings)
    : Device_(device), Settings_(settings) {
    Button1.OnClick = [this] { Button1Click(); };
    Button2.OnClick = [this] { Button2Click(); };
}

void TAudioSetupForm::FormCreate() {
    TrackBar1.SetValue(Settings_.ReadInteger("Audio", "Buffers", kDefaultBuffers));
    Device_.SetNumBuffers(TrackBar1.Value());
    Device_.SetBufferSize(kBufferBytes);
}

void TAudioSetupForm::Button1Click() {
    Device_.Stop();
    Device_.Close();
    Device_.SetNumBuffers(TrackBar1.Value());
    Device_.Reset();
    Device_.Open();
    Settings_.WriteInteger("Audio", "Buffers", TrackBar1.Value());
    if (OnHide) OnHide();
}

void TAudioSetupForm::Button2Click() {
    if (OnHide) OnHide();
}

} // namespace zelvox
