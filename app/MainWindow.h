#pragma once
// The synthesizer's main window: fixed size, client area 397 x 382 on grey, the menu bar, the
// panel and a one-text status bar.

#include <QMainWindow>

class QLabel;

namespace zelvox::app {

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    static constexpr int kClientWidth = 397;
    static constexpr int kClientHeight = 382;
    static constexpr int kStatusHeight = 20;

    explicit MainWindow(QWidget* parent = nullptr);

    QWidget* Panel() const { return Panel_; }
    QLabel* StatusText() const { return Status_; }
    // The menu action with this caption (accelerator marks included), or null.
    QAction* FindAction(const QString& caption) const;

signals:
    void aboutRequested();
    void closed();

protected:
    void closeEvent(QCloseEvent*) override;

private:
    void BuildMenus();

    QWidget* Panel_;
    QLabel* Status_;
};

} // namespace zelvox::app
