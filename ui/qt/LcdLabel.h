#pragma once
// LCD-style label: the model's caption in a bright ink on a dark, sunken display panel. It is
// also the panel's click target for glyph buttons (the transport panel's arrows): bound to a
// Button model, a left click raises the button's OnClick.

#include <QWidget>

#include "ui/Controls.h"
#include "ui/qt/ModelLink.h"

namespace zelvox::qt {

class LcdLabel : public QWidget {
    Q_OBJECT
public:
    // ink: the text colour; the model's own font colour is used when it is not black.
    LcdLabel(Label& model, QColor ink = QColor(0, 255, 0), QWidget* parent = nullptr);
    LcdLabel(Button& model, QColor ink = QColor(0, 255, 0), QWidget* parent = nullptr);

    Control& Model() const { return Model_; }
    QString Text() const;
    QSize sizeHint() const override { return {28, 14}; }

protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent*) override;
    void mouseReleaseEvent(QMouseEvent*) override;

private:
    Control& Model_;
    Label* AsLabel_ = nullptr;
    Button* AsButton_ = nullptr;
    QColor Ink_;
    ModelLink Link_;
    bool Down_ = false;
};

} // namespace zelvox::qt
