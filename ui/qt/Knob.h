#pragma once
// Rotary knob view: a painted knob with a pointer and a scale of ticks, its caption under it.
// Mouse drag (up = more) and wheel, arrow keys (one step), Shift+arrow keys (a tenth of the
// range) and Home/End (the ends) change the model's value. While the knob is turned its value
// shows at once, in its units, in a small display beside it that goes away shortly after the
// turn ends; the tooltip shows it too.

#include <QLabel>
#include <QPointer>
#include <QTimer>
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
    // The display of the value while the knob is turned; null before the first turn.
    QLabel* ValueDisplay() const { return Display_; }
    bool ValueShown() const { return Display_ && Display_->isVisible(); }
    bool HidePending() const { return HideTimer_.isActive(); } // the display goes soon
    static constexpr int kDisplayMs = 1200; // the display stays this long after the last turn

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
    void ShowValue(); // a turn by the user: show the value now, hide it kDisplayMs later

    ValueControl& Model_;
    ModelLink Link_;
    bool Dragging_ = false;
    double DragStartY_ = 0;
    int32_t DragStartValue_ = 0;
    QPointer<QLabel> Display_;
    QTimer HideTimer_;
};

} // namespace zelvox::qt
