#include "ui/qt/Knob.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace zelvox::qt {

namespace {
constexpr double kDragPixelsForFullRange = 160.0; // a full sweep takes 160 pixels of mouse travel
constexpr int kCaptionHeight = 13;
constexpr int kTicks = 11;
} // namespace

KnobView::KnobView(ValueControl& model, QWidget* parent)
    : QWidget(parent), Model_(model), Link_(model, [this] { Refresh(); }) {
    setFocusPolicy(Qt::StrongFocus);
    setFont(PanelFont(10));
    setObjectName(ToQString(model.Name));
    HideTimer_.setSingleShot(true);
    HideTimer_.setInterval(kDisplayMs);
    connect(&HideTimer_, &QTimer::timeout, this, [this] {
        if (Display_ && !Dragging_) Display_->hide();
    });
    Refresh();
}

int32_t KnobView::SingleStep() const {
    const int64_t range = int64_t(Model_.Max()) - Model_.Min();
    return int32_t(std::max<int64_t>(1, range / 127));
}

int32_t KnobView::PageStep() const {
    const int64_t range = int64_t(Model_.Max()) - Model_.Min();
    return int32_t(std::max<int64_t>(1, range / 10));
}

double KnobView::AngleFor(int32_t value) const {
    const double range = double(Model_.Max()) - Model_.Min();
    const double frac = range > 0 ? (double(value) - Model_.Min()) / range : 0.0;
    return 225.0 - 270.0 * std::clamp(frac, 0.0, 1.0);
}

void KnobView::Refresh() {
    SyncCommon(this, Model_);
    const QString caption = ToQString(Model_.Caption()).remove('&');
    const QString value = ToQString(Model_.Text());
    setToolTip(caption.isEmpty() ? value : QStringLiteral("%1: %2").arg(caption, value));
    if (Display_ && Display_->isVisible()) {
        Display_->setText(value);
        Display_->adjustSize();
    }
    update();
}

void KnobView::ShowValue() {
    QWidget* top = window();
    if (!Display_ || Display_->parentWidget() != top) {
        delete Display_;
        // A child of the window, so that it may reach over the neighbouring controls and is
        // part of the window's picture; an LCD-like box in the panel's style.
        Display_ = new QLabel(top);
        Display_->setObjectName(objectName() + "Value");
        Display_->setFont(PanelFont(11, true));
        Display_->setAlignment(Qt::AlignCenter);
        Display_->setAttribute(Qt::WA_TransparentForMouseEvents);
        Display_->setStyleSheet("QLabel { background: #101010; color: #00ff00; border: 1px solid #c0c0c0;"
                                " padding: 1px 4px; }");
    }
    Display_->setText(ToQString(Model_.Text()));
    Display_->adjustSize();
    // Under the knob when the window has room there, otherwise over it; kept inside the window.
    const QRect knob(mapTo(top, QPoint(0, 0)), size());
    const QSize s = Display_->size();
    int x = knob.center().x() - s.width() / 2;
    int y = knob.bottom() - 12;
    if (y + s.height() > top->height()) y = knob.top() - s.height() + 4;
    x = std::clamp(x, 0, std::max(0, top->width() - s.width()));
    y = std::clamp(y, 0, std::max(0, top->height() - s.height()));
    Display_->move(x, y);
    Display_->show();
    Display_->raise();
    HideTimer_.start();
}

void KnobView::Step(int64_t delta) {
    const int64_t v = std::clamp<int64_t>(int64_t(Model_.Value()) + delta, Model_.Min(), Model_.Max());
    Model_.SetValue(int32_t(v));
}

QRectF KnobView::KnobRect() const {
    const double avail = std::min<double>(width(), height() - kCaptionHeight) - 2;
    const double d = std::max(8.0, avail);
    return QRectF((width() - d) / 2.0, 1.0, d, d);
}

void KnobView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF outer = KnobRect();
    const QPointF c = outer.center();
    const double rOuter = outer.width() / 2.0;
    const double rBody = rOuter * 0.74;
    const bool on = isEnabled();

    // Scale ticks around the body, on the 270-degree sweep; longer at both ends and centre.
    p.setPen(QPen(on ? QColor(20, 20, 20) : QColor(90, 90, 90), 1.2));
    for (int i = 0; i < kTicks; ++i) {
        const double a = (225.0 - 270.0 * i / (kTicks - 1)) * M_PI / 180.0;
        const bool major = i == 0 || i == kTicks - 1 || i == kTicks / 2;
        const double r1 = rOuter * (major ? 0.80 : 0.86), r2 = rOuter;
        p.drawLine(QPointF(c.x() + r1 * std::cos(a), c.y() - r1 * std::sin(a)),
                   QPointF(c.x() + r2 * std::cos(a), c.y() - r2 * std::sin(a)));
    }

    // Body: a dark cap lit from the upper left, with a rim.
    QRadialGradient g(c.x() - rBody * 0.35, c.y() - rBody * 0.35, rBody * 1.5);
    g.setColorAt(0.0, on ? QColor(120, 120, 128) : QColor(150, 150, 150));
    g.setColorAt(0.6, on ? QColor(45, 45, 50) : QColor(110, 110, 110));
    g.setColorAt(1.0, on ? QColor(15, 15, 18) : QColor(90, 90, 90));
    p.setBrush(g);
    p.setPen(QPen(QColor(0, 0, 0), 1.0));
    p.drawEllipse(c, rBody, rBody);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(170, 170, 175, on ? 160 : 80), 1.0));
    p.drawEllipse(c, rBody * 0.78, rBody * 0.78);

    // Pointer: a white line from near the centre to the rim.
    const double a = AngleFor(Model_.Value()) * M_PI / 180.0;
    p.setPen(QPen(on ? QColor(255, 255, 255) : QColor(200, 200, 200), 2.2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(c.x() + rBody * 0.2 * std::cos(a), c.y() - rBody * 0.2 * std::sin(a)),
               QPointF(c.x() + rBody * 0.92 * std::cos(a), c.y() - rBody * 0.92 * std::sin(a)));

    if (hasFocus()) PaintFocusFrame(p, QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5));

    // Caption under the knob.
    p.setPen(on ? QColor(0, 0, 0) : QColor(64, 64, 64));
    p.setFont(font());
    const QRect capRect(0, height() - kCaptionHeight, width(), kCaptionHeight);
    p.drawText(capRect, Qt::AlignHCenter | Qt::AlignVCenter, ToQString(Model_.Caption()).remove('&'));
}

void KnobView::mousePressEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton) return QWidget::mousePressEvent(e);
    setFocus(Qt::MouseFocusReason);
    Dragging_ = true;
    DragStartY_ = e->position().y();
    DragStartValue_ = Model_.Value();
}

void KnobView::mouseMoveEvent(QMouseEvent* e) {
    if (!Dragging_) return;
    const double range = double(Model_.Max()) - Model_.Min();
    const double delta = (DragStartY_ - e->position().y()) * range / kDragPixelsForFullRange;
    const double target = std::clamp(double(DragStartValue_) + delta, double(Model_.Min()), double(Model_.Max()));
    Model_.SetValue(int32_t(std::lround(target)));
    ShowValue();
}

void KnobView::mouseReleaseEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton) return;
    Dragging_ = false;
    if (Display_ && Display_->isVisible()) HideTimer_.start(); // the turn ends now
}

void KnobView::wheelEvent(QWheelEvent* e) {
    const int notches = e->angleDelta().y() / 120;
    if (notches == 0) return e->ignore();
    Step(int64_t(notches) * SingleStep());
    ShowValue();
    e->accept();
}

void KnobView::keyPressEvent(QKeyEvent* e) {
    // Page Up/Down belong to the window (they switch pattern): Shift gives the big steps.
    const int64_t step = (e->modifiers() & Qt::ShiftModifier) ? PageStep() : SingleStep();
    switch (e->key()) {
    case Qt::Key_Up:
    case Qt::Key_Right: Step(step); break;
    case Qt::Key_Down:
    case Qt::Key_Left: Step(-step); break;
    case Qt::Key_PageUp: Step(PageStep()); break;
    case Qt::Key_PageDown: Step(-int64_t(PageStep())); break;
    case Qt::Key_Home: Model_.SetValue(Model_.Min()); break;
    case Qt::Key_End: Model_.SetValue(Model_.Max()); break;
    default: return QWidget::keyPressEvent(e);
    }
    ShowValue();
    e->accept();
}

} // namespace zelvox::qt
