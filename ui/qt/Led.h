#pragma once
// The LED (a round lamp in the model's colour; a click raises the model's OnClick) and the LED
// push button (a button with a caption and a lamp that is lit or dark; it raises OnClick on
// release over the button and OnMouseMove while the pointer moves over it).

#include <QPointer>
#include <QWidget>

#include "ui/Controls.h"
#include "ui/qt/ModelLink.h"

#include <QMenu>

namespace zelvox::qt {

class LedView : public QWidget {
    Q_OBJECT
public:
    explicit LedView(Led& model, QWidget* parent = nullptr);
    Led& Model() const { return Model_; }
    QSize sizeHint() const override { return {14, 14}; }

protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent*) override;

private:
    Led& Model_;
    ModelLink Link_;
};

class LedButtonView : public QWidget {
    Q_OBJECT
public:
    explicit LedButtonView(LedButton& model, QWidget* parent = nullptr);
    LedButton& Model() const { return Model_; }
    void SetContextMenu(QMenu* menu) { Menu_ = menu; }
    QSize sizeHint() const override { return {24, 28}; }

protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent*) override;
    void mouseReleaseEvent(QMouseEvent*) override;
    void mouseMoveEvent(QMouseEvent*) override;
    void enterEvent(QEnterEvent*) override;
    void keyPressEvent(QKeyEvent*) override;
    void contextMenuEvent(QContextMenuEvent*) override;

private:
    LedButton& Model_;
    ModelLink Link_;
    QPointer<QMenu> Menu_;
    bool Down_ = false;
};

} // namespace zelvox::qt
