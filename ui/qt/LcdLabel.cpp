#include "ui/qt/LcdLabel.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

namespace zelvox::qt {

LcdLabel::LcdLabel(Label& model, QColor ink, bool clickable, QWidget* parent)
    : QWidget(parent), Model_(model), Ink_(ink), Clickable_(clickable), Link_(model, [this] {
          SyncCommon(this, Model_);
          update();
      }) {
    setObjectName(ToQString(model.Name));
    setFont(PanelFont(clickable ? 12 : 10, true));
    if (clickable) {
        setCursor(Qt::PointingHandCursor);
        // Reached with Tab and pressed with Return; a click leaves the focus where it was.
        setFocusPolicy(Qt::TabFocus);
    }
    SyncCommon(this, Model_);
}

QString LcdLabel::Text() const { return ToQString(Model_.Caption()); }

void LcdLabel::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QRect r = rect();
    // Sunken bezel around a dark green-black glass.
    p.fillRect(r, QColor(10, 22, 10));
    p.setPen(Down_ ? QColor(255, 255, 255) : QColor(48, 48, 48));
    p.drawLine(r.topLeft(), r.topRight());
    p.drawLine(r.topLeft(), r.bottomLeft());
    p.setPen(Down_ ? QColor(48, 48, 48) : QColor(220, 220, 220));
    p.drawLine(r.bottomLeft(), r.bottomRight());
    p.drawLine(r.topRight(), r.bottomRight());

    QColor ink = Ink_;
    if (Model_.FontColour() != Colours::Black) ink = ToQColor(Model_.FontColour());
    if (!isEnabled()) ink = ink.darker(250);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(ink);
    p.setFont(font());
    p.drawText(r.adjusted(1, 0, -1, 0), Qt::AlignCenter, Text());
    if (hasFocus()) PaintFocusFrame(p, QRectF(r));
}

void LcdLabel::keyPressEvent(QKeyEvent* e) {
    if (Clickable_ && (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter)) {
        Model_.Click();
        return e->accept();
    }
    QWidget::keyPressEvent(e);
}

void LcdLabel::mousePressEvent(QMouseEvent* e) {
    if (!Clickable_ || e->button() != Qt::LeftButton) return QWidget::mousePressEvent(e);
    Down_ = true;
    update();
    e->accept();
}

void LcdLabel::mouseReleaseEvent(QMouseEvent* e) {
    if (!Clickable_ || e->button() != Qt::LeftButton || !Down_) return QWidget::mouseReleaseEvent(e);
    Down_ = false;
    update();
    if (rect().contains(e->position().toPoint())) Model_.Click();
    e->accept();
}

} // namespace zelvox::qt
