#pragma once
// A plain area of a window whose visibility (and enabled state) a control model decides: the
// knob panels, the editor and the phrase table of the main window.

#include <QFrame>

#include "ui/Controls.h"
#include "ui/qt/ModelLink.h"

namespace zelvox::qt {

class ContainerView : public QFrame {
    Q_OBJECT
public:
    explicit ContainerView(Control& model, QWidget* parent = nullptr)
        : QFrame(parent), Model_(model), Link_(model, [this] { SyncCommon(this, Model_); }) {
        setObjectName(ToQString(model.Name));
        SyncCommon(this, Model_);
    }
    Control& Model() const { return Model_; }

private:
    Control& Model_;
    ModelLink Link_;
};

} // namespace zelvox::qt
