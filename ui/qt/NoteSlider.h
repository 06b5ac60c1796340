#pragma once
// Vertical note slider: a groove with a coloured thumb (the model's ThumbColour), the highest
// note at the top. Either mouse button gives it the keyboard focus and selects its step (the
// model's OnEnter); the left button then moves the thumb to the pointer and drags it. Wheel
// and Up/Down move one note, Shift+Up/Down an octave, Home/End to the highest/lowest note;
// Left/Right enter the previous/next step's slider. A right click (or the Menu key) opens the
// context menu given with SetContextMenu after the step has been selected.

#include <QPointer>
#include <QWidget>

#include "ui/Controls.h"
#include "ui/qt/ModelLink.h"

#include <QMenu>

namespace zelvox::qt {

class NoteSliderView : public QWidget {
    Q_OBJECT
public:
    explicit NoteSliderView(NoteSlider& model, QWidget* parent = nullptr);

    NoteSlider& Model() const { return Model_; }
    void SetContextMenu(QMenu* menu) { Menu_ = menu; }
    // The value a press at widget height y stands for.
    int32_t ValueAt(double y) const;
    QRectF ThumbRect() const;

    QSize sizeHint() const override { return {20, 128}; }

protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent*) override;
    void mouseMoveEvent(QMouseEvent*) override;
    void mouseReleaseEvent(QMouseEvent*) override;
    void wheelEvent(QWheelEvent*) override;
    void keyPressEvent(QKeyEvent*) override;
    void showEvent(QShowEvent*) override;
    void focusInEvent(QFocusEvent*) override;
    void focusOutEvent(QFocusEvent*) override;
    void contextMenuEvent(QContextMenuEvent*) override;

private:
    void Refresh();
    void Step(int delta);
    void MoveToNeighbour(int direction); // -1 previous step, +1 next
    double TrackTop() const;
    double TrackBottom() const;

    NoteSlider& Model_;
    ModelLink Link_;
    QPointer<QMenu> Menu_;
    bool Dragging_ = false;
    bool Pressing_ = false;
    bool Syncing_ = false;
};

} // namespace zelvox::qt
