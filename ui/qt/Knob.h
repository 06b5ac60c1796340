#pragma once
// Rotary knob view: a painted knob with a pointer and a scale of ticks, its caption under it.
// Mouse drag (up = more) and wheel, arrow keys (one step) and Page Up/Down (a tenth of the
// range), Home/End (the ends) change the model's value; the tooltip shows the value.

#include <QWidget>

#include "ui/Controls.h"
#include "ui/qt/ModelLink.h"

namespace zelvox::qt {

class KnobView : public QWidget {
    Q_OBJECT
public:
    explicit KnobView(ValueControl& model, QWidget* parent = nullptr);

    ValueControl& Model() const { return Model_; }
    // Value change for one arrow key or wheel notch, and for Page Up/Down.
    int32_t SingleStep() const;
    int32_t PageStep() const;
    // Where the pointer of a value points, in degrees counter-clockwise from 3 o'clock:
    // the minimum at 225 (lower left), the maximum at -45 (lower right).
    double AngleFor(int32_t value) const;

    QSize sizeHint() const override { return {44, 58}; }

protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent*) override;
    void mouseMoveEvent(QMouseEvent*) override;
    void mouseReleaseEvent(QMouseEvent*) override;
    void wheelEvent(QWheelEvent*) override;
    void keyPressEvent(QKeyEvent*) override;

private:
    void Refresh();
    void Step(int64_t delta);
    QRectF KnobRect() const;

    ValueControl& Model_;
    ModelLink Link_;
    bool Dragging_ = false;
    double DragStartY_ = 0;
    int32_t DragStartValue_ = 0;
};

} // namespace zelvox::qt
