#include "ui/qt/LcdLabel.h"

#include <QMouseEvent>
#include <QPainter>

namespace zelvox::qt {

LcdLabel::LcdLabel(Label& model, QColor ink, QWidget* parent)
    : QWidget(parent), Model_(model), AsLabel_(&model), Ink_(ink), Link_(model, [this] {
          SyncCommon(this, Model_);
          update();
      }) {
    setObjectName(ToQString(model.Name));
    setFont(PanelFont(10, true));
    SyncCommon(this, Model_);
}

LcdLabel::LcdLabel(Button& model, QColor ink, QWidget* parent)
    : QWidget(parent), Model_(model), AsButton_(&model), Ink_(ink), Link_(model, [this] {
          SyncCommon(this, Model_);
          update();
      }) {
    setObjectName(ToQString(model.Name));
    setFont(PanelFont(12, true));
    setCursor(Qt::PointingHandCursor);
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
    if (AsLabel_ && AsLabel_->FontColour() != Colours::Black) ink = ToQColor(AsLabel_->FontColour());
    if (!isEnabled()) ink = ink.darker(250);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(ink);
    p.setFont(font());
    p.drawText(r.adjusted(1, 0, -1, 0), Qt::AlignCenter, Text());
}

void LcdLabel::mousePressEvent(QMouseEvent* e) {
    if (!AsButton_ || e->button() != Qt::LeftButton) return QWidget::mousePressEvent(e);
    Down_ = true;
    update();
    e->accept();
}

void LcdLabel::mouseReleaseEvent(QMouseEvent* e) {
    if (!AsButton_ || e->button() != Qt::LeftButton || !Down_) return QWidget::mouseReleaseEvent(e);
    Down_ = false;
    update();
    if (rect().contains(e->position().toPoint())) AsButton_->Click();
    e->accept();
}

} // namespace zelvox::qt
