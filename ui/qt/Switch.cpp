#include "ui/qt/Switch.h"

#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>

namespace zelvox::qt {

namespace {
constexpr int kCaptionHeight = 13;
}

SwitchView::SwitchView(Switch& model, QWidget* parent)
    : QWidget(parent), Model_(model), Link_(model, [this] {
          SyncCommon(this, Model_);
          update();
      }) {
    setFocusPolicy(Qt::StrongFocus);
    setFont(PanelFont(10));
    setObjectName(ToQString(model.Name));
    SyncCommon(this, Model_);
}

QRectF SwitchView::SlotRect() const {
    const double h = height() - 2 * kCaptionHeight - 4;
    return QRectF(width() / 2.0 - 6.0, kCaptionHeight + 2.0, 12.0, h);
}

void SwitchView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const bool on = isEnabled();
    const QColor ink = on ? QColor(0, 0, 0) : QColor(64, 64, 64);
    p.setPen(ink);
    p.drawText(QRect(0, 0, width(), kCaptionHeight), Qt::AlignCenter, ToQString(Model_.TopCaption));
    p.drawText(QRect(0, height() - kCaptionHeight, width(), kCaptionHeight), Qt::AlignCenter,
               ToQString(Model_.BottomCaption));

    // The slot, sunken, and the lever at the top (1) or the bottom (0).
    const QRectF slot = SlotRect();
    p.setPen(QPen(QColor(40, 40, 40), 1.0));
    p.setBrush(QColor(24, 24, 24));
    p.drawRoundedRect(slot, 3, 3);
    const double lh = slot.height() * 0.45;
    const QRectF lever = Model_.Value() != 0 ? QRectF(slot.left() - 2, slot.top() - 1, slot.width() + 4, lh)
                                             : QRectF(slot.left() - 2, slot.bottom() - lh + 1, slot.width() + 4, lh);
    QLinearGradient g(lever.topLeft(), lever.bottomLeft());
    g.setColorAt(0, on ? QColor(235, 235, 235) : QColor(170, 170, 170));
    g.setColorAt(1, on ? QColor(150, 150, 150) : QColor(120, 120, 120));
    p.setBrush(g);
    p.setPen(QPen(QColor(0, 0, 0), 1.0));
    p.drawRoundedRect(lever, 2, 2);
    p.drawLine(QPointF(lever.left() + 3, lever.center().y()), QPointF(lever.right() - 3, lever.center().y()));

    if (hasFocus()) PaintFocusFrame(p, slot.adjusted(-5, -4, 5, 4));
}

void SwitchView::mousePressEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton) return QWidget::mousePressEvent(e);
    setFocus(Qt::MouseFocusReason);
    Model_.SetValue(e->position().y() < height() / 2.0 ? 1 : 0);
    e->accept();
}

void SwitchView::keyPressEvent(QKeyEvent* e) {
    switch (e->key()) {
    case Qt::Key_Up: Model_.SetValue(1); break;
    case Qt::Key_Down: Model_.SetValue(0); break;
    default: return QWidget::keyPressEvent(e);
    }
    e->accept();
}

void SwitchView::contextMenuEvent(QContextMenuEvent* e) {
    if (!Menu_) return e->ignore();
    Menu_->popup(e->globalPos());
    e->accept();
}

} // namespace zelvox::qt
