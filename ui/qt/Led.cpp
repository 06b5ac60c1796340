#include "ui/qt/Led.h"

#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>

namespace zelvox::qt {

namespace {
// A lamp: the colour with a highlight; black reads as an unlit lamp.
void PaintLamp(QPainter& p, const QRectF& r, QColor c, bool enabled) {
    p.setRenderHint(QPainter::Antialiasing);
    if (!enabled) c = c.darker(150);
    QRadialGradient g(r.left() + r.width() * 0.35, r.top() + r.height() * 0.35, r.width() * 0.75);
    g.setColorAt(0.0, c.lighter(c == QColor(0, 0, 0) ? 100 : 125));
    g.setColorAt(0.5, c);
    g.setColorAt(1.0, c.darker(125));
    p.setPen(QPen(QColor(20, 20, 20), 1.0));
    p.setBrush(g);
    p.drawRoundedRect(r, 2.5, 2.5);
    if (c != QColor(0, 0, 0)) {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(255, 255, 255, 110));
        p.drawEllipse(QRectF(r.left() + r.width() * 0.2, r.top() + r.height() * 0.15, r.width() * 0.3,
                             r.height() * 0.3));
    }
}
} // namespace

LedView::LedView(Led& model, QWidget* parent)
    : QWidget(parent), Model_(model), Link_(model, [this] {
          SyncCommon(this, Model_);
          update();
      }) {
    setObjectName(ToQString(model.Name));
    setCursor(Qt::PointingHandCursor);
    SyncCommon(this, Model_);
}

void LedView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const double d = std::min(width(), height()) - 2.0;
    PaintLamp(p, QRectF((width() - d) / 2.0, (height() - d) / 2.0, d, d), ToQColor(Model_.Color()), isEnabled());
}

void LedView::mousePressEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton) return QWidget::mousePressEvent(e);
    Model_.Click();
    e->accept();
}

LedButtonView::LedButtonView(LedButton& model, QWidget* parent)
    : QWidget(parent), Model_(model), Link_(model, [this] {
          SyncCommon(this, Model_);
          update();
      }) {
    setObjectName(ToQString(model.Name));
    setFocusPolicy(Qt::TabFocus);
    setMouseTracking(true);
    setFont(PanelFont(10, true));
    SyncCommon(this, Model_);
}

void LedButtonView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    // Raised (or pressed) face with a bevel.
    p.fillRect(r, Down_ ? QColor(160, 160, 160) : QColor(192, 192, 192));
    p.setPen(Down_ ? QColor(64, 64, 64) : QColor(255, 255, 255));
    p.drawLine(r.topLeft(), r.topRight());
    p.drawLine(r.topLeft(), r.bottomLeft());
    p.setPen(Down_ ? QColor(255, 255, 255) : QColor(64, 64, 64));
    p.drawLine(r.bottomLeft(), r.bottomRight());
    p.drawLine(r.topRight(), r.bottomRight());

    const double lw = std::min(14.0, width() - 8.0);
    const QRectF lamp((width() - lw) / 2.0, 3.0, lw, 5.0);
    PaintLamp(p, lamp, Model_.LedOn() ? ToQColor(Model_.LedColour()) : QColor(0, 48, 0), isEnabled());

    p.setPen(isEnabled() ? QColor(0, 0, 0) : QColor(110, 110, 110));
    p.setFont(font());
    const QRect text(0, 9, width(), height() - 10);
    p.drawText(text.translated(Down_ ? 1 : 0, Down_ ? 1 : 0), Qt::AlignCenter, ToQString(Model_.Caption()));
    // On the light face of the button the frame is drawn dark.
    if (hasFocus()) PaintFocusFrame(p, QRectF(rect()).adjusted(1, 1, -1, -1), QColor(0, 0, 160));
}

void LedButtonView::mousePressEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton) return QWidget::mousePressEvent(e);
    Down_ = true;
    update();
    e->accept();
}

void LedButtonView::mouseReleaseEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton || !Down_) return QWidget::mouseReleaseEvent(e);
    Down_ = false;
    update();
    if (rect().contains(e->position().toPoint())) Model_.Click();
    e->accept();
}

void LedButtonView::mouseMoveEvent(QMouseEvent* e) {
    if (Model_.OnMouseMove) Model_.OnMouseMove();
    QWidget::mouseMoveEvent(e);
}

void LedButtonView::enterEvent(QEnterEvent* e) {
    // Entering counts as a move over the button, so hover is known before the first move event.
    if (Model_.OnMouseMove) Model_.OnMouseMove();
    QWidget::enterEvent(e);
}

void LedButtonView::keyPressEvent(QKeyEvent* e) {
    if (e->key() == Qt::Key_Space || e->key() == Qt::Key_Return) {
        Model_.Click();
        return e->accept();
    }
    QWidget::keyPressEvent(e);
}

void LedButtonView::contextMenuEvent(QContextMenuEvent* e) {
    if (!Menu_) return e->ignore();
    // The menu acts on the button under the pointer: make sure it counts as hovered.
    if (Model_.OnMouseMove) Model_.OnMouseMove();
    Menu_->popup(e->globalPos());
    e->accept();
}

} // namespace zelvox::qt
