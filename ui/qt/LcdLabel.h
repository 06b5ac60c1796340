#pragma once
// LCD-style label: the model's caption in a bright ink on a dark, sunken display panel. A
// clickable one is the panel's glyph button (the lower panel's arrows): a left click raises
// the label's OnClick, and so does Return while it holds the keyboard focus (reached with Tab).

#include <QWidget>

#include "ui/Controls.h"
#include "ui/qt/ModelLink.h"

namespace zelvox::qt {

class LcdLabel : public QWidget {
    Q_OBJECT
public:
    // ink: the text colour; the model's own font colour is used when it is not black.
    LcdLabel(Label& model, QColor ink = QColor(0, 255, 0), bool clickable = false, QWidget* parent = nullptr);

    Label& Model() const { return Model_; }
    QString Text() const;
    QSize sizeHint() const override { return {28, 14}; }

protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent*) override;
    void mouseReleaseEvent(QMouseEvent*) override;
    void keyPressEvent(QKeyEvent*) override;

private:
    Label& Model_;
    QColor Ink_;
    bool Clickable_;
    ModelLink Link_;
    bool Down_ = false;
};

} // namespace zelvox::qt
