#pragma once
// A dialog window whose caption and visibility belong to a form model (a Control): the model
// becoming visible shows the window (modeless), becoming hidden hides it, and the title
// bar's close button hides the model as the dialog's own "OK"/"Cancel" would.

#include <algorithm>

#include <QCloseEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include "ui/Controls.h"
#include "ui/qt/ModelLink.h"

namespace zelvox::app {

// Places a window that is about to open centred on `on` (the main window), kept on the screen.
// Nothing happens while `on` is not shown.
inline void CentreOn(QWidget& window, const QWidget* on) {
    if (!on || !on->isVisible()) return;
    QRect r(QPoint(0, 0), window.frameGeometry().size());
    r.moveCenter(on->frameGeometry().center());
    if (const QScreen* s = on->screen()) {
        const QRect area = s->availableGeometry();
        r.moveLeft(std::max(area.left(), std::min(r.left(), area.right() - r.width() + 1)));
        r.moveTop(std::max(area.top(), std::min(r.top(), area.bottom() - r.height() + 1)));
    }
    window.move(r.topLeft());
}

class ModelWindow : public QWidget {
    Q_OBJECT
public:
    ModelWindow(Control& form, QWidget* parent = nullptr)
        : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                              Qt::MSWindowsFixedSizeDialogHint),
          FormModel_(form), Link_(form, [this] { Refresh(); }) {
        setObjectName(qt::ToQString(form.Name));
        setWindowTitle(qt::ToQString(form.Caption()));
    }

    // Every opening centres the window on this one (the main window).
    void SetCentreOn(const QWidget* on) { CentreOn_ = on; }

protected:
    // Call at the end of the derived constructor, once the contents exist.
    void Refresh() {
        setWindowTitle(qt::ToQString(FormModel_.Caption()));
        if (FormModel_.Visible() == isVisible()) return;
        if (FormModel_.Visible()) {
            CentreOn(*this, CentreOn_);
            show();
            raise();
            activateWindow();
        } else {
            hide();
        }
    }
    void closeEvent(QCloseEvent* e) override {
        e->accept();
        FormModel_.SetVisible(false);
    }

private:
    Control& FormModel_;
    const QWidget* CentreOn_ = nullptr;
    qt::ModelLink Link_;
};

} // namespace zelvox::app
