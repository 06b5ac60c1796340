#include "app/EnvelopeWindow.h"

#include <QGroupBox>
#include <QPainter>

#include "app/LearnMenu.h"
#include "ui/qt/StdViews.h"

namespace zelvox::app {

using namespace zelvox::qt;

PreviewView::PreviewView(PreviewImage& model, QWidget* parent)
    : QWidget(parent), Model_(model), Link_(model, [this] { update(); }) {
    setObjectName(ToQString(model.Name));
    setFixedSize(PreviewImage::kWidth, PreviewImage::kHeight);
}

void PreviewView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(QRect(0, 0, PreviewImage::kWidth, PreviewImage::kHeight), QColor(0, 255, 0));
    p.setPen(QColor(0, 0, 0));
    const auto& bars = Model_.Bars();
    for (int x = 0; x < PreviewImage::kWidth; ++x) {
        const int top = bars[size_t(x)];
        if (top < PreviewImage::kHeight) p.drawLine(x, PreviewImage::kHeight, x, top);
    }
}

namespace {
constexpr int kGroupW = 150, kGroupH = 152;

// One contour: "Attack"/"Decay", its spin edit, its number box and its preview.
void AddContour(QWidget* group, int x, SpinEdit& spin, Label& figure, PreviewImage& image, LearnMenu* menu,
                ControlId id) {
    auto* caption = new QLabel(ToQString(spin.Caption()), group);
    caption->setGeometry(x, 20, 48, 20);
    auto* edit = new SpinEditView(spin, true, group);
    edit->setGeometry(x + 48, 20, 46, 22);
    menu->Attach(edit, id);
    auto* number = new LabelView(figure, group);
    number->setGeometry(x + 98, 20, 30, 22);
    number->setAlignment(Qt::AlignCenter);
    number->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    number->setAutoFillBackground(true);
    QPalette pal = number->palette();
    pal.setColor(QPalette::Window, QColor(255, 255, 255));
    number->setPalette(pal);
    number->setToolTip("0..100");
    auto* preview = new PreviewView(image, group);
    preview->move(x, 46);
}
} // namespace

EnvelopeWindow::EnvelopeWindow(EnvelopeForm& form, QWidget* parent)
    : ModelWindow(form.Form5, parent), Form_(form), LearnMenu_(new LearnMenu(this)) {
    setFont(PanelFont(12));

    auto* heading = new LabelView(form.Heading, this);
    heading->setGeometry(10, 8, 300, 22);
    heading->setFont(PanelFont(14, true));

    auto* bass = new QGroupBox("Bass", this);
    bass->setGeometry(10, 36, 2 * kGroupW - 4, kGroupH);
    AddContour(bass, 8, form.SpinEdit971, form.FlatEdit971, form.Image1, LearnMenu_, ControlId::BassAttackContour);
    AddContour(bass, 8 + kGroupW, form.SpinEdit972, form.FlatEdit972, form.Image2, LearnMenu_, ControlId::BassDecayContour);

    auto* twin = new QGroupBox("Twin-T", this);
    twin->setGeometry(10, 36 + kGroupH + 6, kGroupW - 4, kGroupH);
    AddContour(twin, 8, form.SpinEdit973, form.FlatEdit973, form.Image3, LearnMenu_, ControlId::TwinTDecayContour);

    auto* noise = new QGroupBox("Noise", this);
    noise->setGeometry(10 + kGroupW, 36 + kGroupH + 6, kGroupW - 4, kGroupH);
    AddContour(noise, 8, form.SpinEdit974, form.FlatEdit974, form.Image4, LearnMenu_, ControlId::NoiseDecayContour);

    auto* ok = new ButtonView(form.Button1, this);
    ok->setGeometry(2 * kGroupW - 80, 36 + 2 * kGroupH + 16, 84, 26);
    setFixedSize(2 * kGroupW + 16, 36 + 2 * kGroupH + 52);

    Refresh();
}

EnvelopeWindow::~EnvelopeWindow() { LearnMenu_->SetModel(nullptr); }

void EnvelopeWindow::SetMidiLearn(MidiLearn* learn) { LearnMenu_->SetModel(learn); }

} // namespace zelvox::app
