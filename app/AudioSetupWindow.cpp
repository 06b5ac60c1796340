#include "app/AudioSetupWindow.h"

#include "ui/qt/StdViews.h"

namespace zelvox::app {

using namespace zelvox::qt;

AudioSetupWindow::AudioSetupWindow(TAudioSetupForm& form, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint),
      Form_(form) {
    setObjectName("Form3");
    setWindowTitle(ToQString(form.Caption));
    setFixedSize(kClientWidth, kClientHeight);
    setFont(PanelFont(12));

    auto* title = new LabelView(form.Label1, this);
    title->setFont(PanelFont(13, true));
    title->setGeometry(10, 6, 200, 18);
    auto* min = new LabelView(form.Label2, this);
    min->setGeometry(10, 28, 40, 16);
    constexpr int kLatencyWidth = 116;
    const int sliderRight = kClientWidth - kLatencyWidth - 10;
    auto* max = new LabelView(form.Label3, this);
    max->setGeometry(sliderRight - 40, 28, 40, 16);
    max->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    auto* slider = new TrackBarView(form.TrackBar1, this);
    slider->setGeometry(8, 42, sliderRight - 8, 22);
    auto* latency = new LabelView(form.Label4, this);
    latency->setGeometry(sliderRight + 4, 42, kLatencyWidth, 18);
    latency->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    latency->setFont(PanelFont(12, true));
    latency->setToolTip("The sound queued ahead: buffers of 10 ms");

    auto row = [this](Label& caption, ComboBox& list, int y) {
        auto* l = new LabelView(caption, this);
        l->setGeometry(10, y + 3, 92, 16);
        auto* c = new ComboBoxView(list, this);
        c->setGeometry(106, y, kClientWidth - 114, 22);
        l->setBuddy(c);
    };
    row(form.Label5, form.ComboBox1, 72);
    row(form.Label6, form.ComboBox2, 100);

    auto* keepTime = new LabelView(form.Label7, this);
    keepTime->setGeometry(10, 130, kClientWidth - 20, 16);
    keepTime->setFont(PanelFont(12, true));
    const int half = (kClientWidth - 20) / 2;
    auto box = [this, half](CheckBox& b, int column, int y, const char* tip) {
        auto* v = new CheckBoxView(b, this);
        v->setGeometry(10 + column * half, y, half, 20);
        v->setToolTip(tip);
    };
    box(form.CheckBox1, 0, 148, "Start, stop, jump and play on the JACK transport's grid and tempo");
    box(form.CheckBox2, 1, 148, "Start, stop and play on the MIDI clock coming in at midi_in");
    box(form.CheckBox3, 0, 168, "Send MIDI clock, Start, Stop and Continue from midi_out");
    box(form.CheckBox4, 1, 168, "Give the JACK transport bar, beat and tick from this tempo");
    box(form.CheckBox5, 0, 188, "Send the pattern as MIDI notes from midi_out, to play other synths");
    box(form.CheckBox6, 1, 188,
        "A JACK output connects itself to the first two physical playback ports when it opens "
        "(a mono output to both); off: its ports are left for you to connect");
    // The channels and the drums' notes: a row each, the voices in columns.
    auto caption = [this](Label& l, int x, int y, int w) {
        auto* v = new LabelView(l, this);
        v->setGeometry(x, y + 3, w, 16);
        return v;
    };
    auto spin = [this, &caption](Label& l, SpinEdit& s, int x, int y, const char* tip) {
        constexpr int kCaption = 38;
        auto* c = caption(l, x, y, kCaption);
        c->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        auto* v = new SpinEditView(s, true, this);
        v->setGeometry(x + kCaption + 4, y, 40, 22);
        v->setToolTip(tip);
        c->setBuddy(v);
    };
    const char* channelTip = "The MIDI channel (1 to 16) of this voice's notes";
    const char* noteTip = "The note (0 to 127) this drum's hits send: 36 a bass drum, 42 a closed hi-hat on a General MIDI kit";
    caption(form.Label8, 10, 210, 56);
    spin(form.Label9, form.SpinEdit1, 64, 210, channelTip);
    spin(form.Label10, form.SpinEdit2, 150, 210, channelTip);
    spin(form.Label11, form.SpinEdit3, 236, 210, channelTip);
    caption(form.Label12, 10, 236, 56);
    spin(form.Label13, form.SpinEdit4, 150, 236, noteTip);
    spin(form.Label14, form.SpinEdit5, 236, 236, noteTip);

    auto* ok = new ButtonView(form.Button1, this);
    ok->setGeometry(kClientWidth - 172, kClientHeight - 30, 78, 25);
    ok->setDefault(true);
    auto* cancel = new ButtonView(form.Button2, this);
    cancel->setGeometry(kClientWidth - 86, kClientHeight - 30, 78, 25);

    form.OnHide = [this] { hide(); };
}

AudioSetupWindow::~AudioSetupWindow() { Form_.OnHide = nullptr; }

} // namespace zelvox::app
