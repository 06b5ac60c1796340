#pragma once
// Two-position switch: a small vertical slider with the model's TopCaption above it (value 1)
// and BottomCaption below it (value 0). A click in the upper half sets 1, in the lower half 0;
// Up/Down keys do the same (Space is the main window's start/stop key).

#include <QPointer>
#include <QWidget>

#include "ui/Controls.h"
#include "ui/qt/ModelLink.h"

#include <QMenu>

namespace zelvox::qt {

class SwitchView : public QWidget {
    Q_OBJECT
public:
    explicit SwitchView(Switch& model, QWidget* parent = nullptr);
    Switch& Model() const { return Model_; }
    void SetContextMenu(QMenu* menu) { Menu_ = menu; }
    QRectF SlotRect() const;

    QSize sizeHint() const override { return {40, 58}; }

protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent*) override;
    void keyPressEvent(QKeyEvent*) override;
    void contextMenuEvent(QContextMenuEvent*) override;

private:
    Switch& Model_;
    ModelLink Link_;
    QPointer<QMenu> Menu_;
};

} // namespace zelvox::qt
