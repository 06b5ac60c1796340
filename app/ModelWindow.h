#pragma once
// A dialog window whose caption and visibility belong to a form model (a Control): the model
// becoming visible shows the window (modeless), becoming hidden hides it, and the title
// bar's close button hides the model as the dialog's own "OK"/"Cancel" would.

#include <QCloseEvent>
#include <QWidget>

#include "ui/Controls.h"
#include "ui/qt/ModelLink.h"

namespace zelvox::app {

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

protected:
    // Call at the end of the derived constructor, once the contents exist.
    void Refresh() {
        setWindowTitle(qt::ToQString(FormModel_.Caption()));
        if (FormModel_.Visible() == isVisible()) return;
        if (FormModel_.Visible()) {
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
    qt::ModelLink Link_;
};

} // namespace zelvox::app
