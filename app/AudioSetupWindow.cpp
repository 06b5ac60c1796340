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
    auto* max = new LabelView(form.Label3, this);
    max->setGeometry(kClientWidth - 50, 28, 40, 16);
    max->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    auto* slider = new TrackBarView(form.TrackBar1, this);
    slider->setGeometry(8, 42, kClientWidth - 16, 22);
    auto* ok = new ButtonView(form.Button1, this);
    ok->setGeometry(kClientWidth - 172, 66, 78, 25);
    ok->setDefault(true);
    auto* cancel = new ButtonView(form.Button2, this);
    cancel->setGeometry(kClientWidth - 86, 66, 78, 25);

    form.OnHide = [this] { hide(); };
}

AudioSetupWindow::~AudioSetupWindow() { Form_.OnHide = nullptr; }

} // namespace zelvox::app
