#include "ui/qt/NoteSlider.h"

#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace zelvox::qt {

namespace {
constexpr double kThumbHeight = 9.0;
constexpr int kOctave = 12;
} // namespace

NoteSliderView::NoteSliderView(NoteSlider& model, QWidget* parent)
    : QWidget(parent), Model_(model), Link_(model, [this] { Refresh(); }) {
    setFocusPolicy(Qt::StrongFocus);
    setObjectName(ToQString(model.Name));
    Refresh();
}

void NoteSliderView::Refresh() {
    SyncCommon(this, Model_);
    // The program gave this slider the focus: move the real focus here (without selecting
    // the step a second time).
    if (Model_.Focused() && !hasFocus() && isVisible() && isEnabled()) {
        Syncing_ = true;
        setFocus(Qt::OtherFocusReason);
        Syncing_ = false;
    }
    update();
}

double NoteSliderView::TrackTop() const { return kThumbHeight / 2.0 + 1.0; }
double NoteSliderView::TrackBottom() const { return height() - kThumbHeight / 2.0 - 1.0; }

int32_t NoteSliderView::ValueAt(double y) const {
    const double span = std::max(1.0, TrackBottom() - TrackTop());
    const double frac = std::clamp((TrackBottom() - y) / span, 0.0, 1.0);
    return Model_.Min() + int32_t(std::lround(frac * (double(Model_.Max()) - Model_.Min())));
}

QRectF NoteSliderView::ThumbRect() const {
    const double range = double(Model_.Max()) - Model_.Min();
    const double frac = range > 0 ? (double(Model_.Value()) - Model_.Min()) / range : 0.0;
    const double cy = TrackBottom() - frac * (TrackBottom() - TrackTop());
    return QRectF(2.0, cy - kThumbHeight / 2.0, width() - 4.0, kThumbHeight);
}

void NoteSliderView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const bool on = isEnabled();
    // Groove: a sunken slot down the middle.
    const double cx = width() / 2.0;
    const QRectF groove(cx - 2.0, TrackTop(), 4.0, TrackBottom() - TrackTop());
    p.fillRect(groove, on ? QColor(16, 16, 16) : QColor(96, 96, 96));
    p.setPen(QColor(176, 176, 176));
    p.drawLine(groove.bottomLeft(), groove.bottomRight());
    p.drawLine(groove.topRight(), groove.bottomRight());

    // Thumb in the model's colour, raised look; greyed out when the step is not editable.
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF t = ThumbRect();
    QColor fill = ToQColor(Model_.ThumbColour());
    if (!on) fill = fill.darker(160);
    p.setPen(QPen(QColor(0, 0, 0), 1.0));
    p.setBrush(fill);
    p.drawRoundedRect(t.adjusted(0.5, 0.5, -0.5, -0.5), 2, 2);
    p.setPen(QPen(fill.lighter(150), 1.0));
    p.drawLine(QPointF(t.left() + 2, t.top() + 2), QPointF(t.right() - 2, t.top() + 2));
    p.setPen(QPen(QColor(0, 0, 0, 140), 1.0));
    p.drawLine(QPointF(t.left() + 2, t.center().y()), QPointF(t.right() - 2, t.center().y()));

    if (hasFocus()) PaintFocusFrame(p, QRectF(rect()));
}

void NoteSliderView::showEvent(QShowEvent* e) {
    QWidget::showEvent(e);
    Refresh(); // a focus the program gave while the window was hidden arrives now
}

namespace {
// A menu opening or closing, or the window losing or regaining activation (a dialog, a file
// chooser, another program), takes the keyboard focus away and gives it back to the same
// slider: the user did not enter it, so the step chosen meanwhile (with an LED) stays chosen.
bool FocusStaysInWindow(const QFocusEvent* e) {
    return e->reason() == Qt::PopupFocusReason || e->reason() == Qt::ActiveWindowFocusReason;
}
} // namespace

void NoteSliderView::focusInEvent(QFocusEvent* e) {
    // A press selects the step itself (below) and the program's own focus moves have
    // selected it already; focus that arrives by keyboard selects it here.
    if (!Pressing_ && !Syncing_ && !(FocusStaysInWindow(e) && Model_.Focused())) Model_.FocusIn();
    update();
    QWidget::focusInEvent(e);
}

void NoteSliderView::focusOutEvent(QFocusEvent* e) {
    if (!FocusStaysInWindow(e)) Model_.FocusOut();
    update();
    QWidget::focusOutEvent(e);
}

void NoteSliderView::mousePressEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton && e->button() != Qt::RightButton) return QWidget::mousePressEvent(e);
    // Every press selects this slider's step, also when the slider already had the focus and
    // another step was selected through its LED meanwhile: the context menu then acts on the
    // step that was clicked.
    Pressing_ = true;
    setFocus(Qt::MouseFocusReason);
    Pressing_ = false;
    Model_.FocusIn();
    if (e->button() == Qt::LeftButton) {
        Dragging_ = true;
        if (!ThumbRect().contains(e->position())) Model_.SetValue(ValueAt(e->position().y()));
    }
    e->accept();
}

void NoteSliderView::mouseMoveEvent(QMouseEvent* e) {
    if (Dragging_) Model_.SetValue(ValueAt(e->position().y()));
}

void NoteSliderView::mouseReleaseEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton) Dragging_ = false;
}

void NoteSliderView::contextMenuEvent(QContextMenuEvent* e) {
    if (!Menu_) return e->ignore();
    Menu_->popup(e->globalPos());
    e->accept();
}

void NoteSliderView::Step(int delta) {
    const int64_t v = std::clamp<int64_t>(int64_t(Model_.Value()) + delta, Model_.Min(), Model_.Max());
    Model_.SetValue(int32_t(v));
}

void NoteSliderView::wheelEvent(QWheelEvent* e) {
    const int notches = e->angleDelta().y() / 120;
    if (notches == 0) return e->ignore();
    Step(notches);
    e->accept();
}

void NoteSliderView::keyPressEvent(QKeyEvent* e) {
    const bool shift = e->modifiers() & Qt::ShiftModifier;
    switch (e->key()) {
    case Qt::Key_Up: Step(shift ? kOctave : 1); break;
    case Qt::Key_Down: Step(shift ? -kOctave : -1); break;
    case Qt::Key_Left: MoveToNeighbour(-1); break;
    case Qt::Key_Right: MoveToNeighbour(+1); break;
    case Qt::Key_Home: Model_.SetValue(Model_.Max()); break;
    case Qt::Key_End: Model_.SetValue(Model_.Min()); break;
    default: return QWidget::keyPressEvent(e);
    }
    e->accept();
}

void NoteSliderView::MoveToNeighbour(int direction) {
    // The sliders of the row, in step order (they are made in that order); entering the
    // neighbour selects its step as a Tab would. Disabled steps (beyond Steps) are not entered.
    const QList<NoteSliderView*> row =
        parentWidget() ? parentWidget()->findChildren<NoteSliderView*>(Qt::FindDirectChildrenOnly)
                       : QList<NoteSliderView*>{};
    const qsizetype here = row.indexOf(this);
    if (here < 0) return;
    for (qsizetype i = here + direction; i >= 0 && i < row.size(); i += direction) {
        if (!row[i]->isEnabled() || !row[i]->isVisible()) continue;
        row[i]->setFocus(direction > 0 ? Qt::TabFocusReason : Qt::BacktabFocusReason);
        return;
    }
}

} // namespace zelvox::qt
