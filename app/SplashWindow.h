#pragma once
// The start-up banner, which is also the About box. It is the application's main window:
// closing it ends the program, hiding it does not.

#include <QTimer>
#include <QWidget>

class QLabel;
class QPushButton;

namespace zelvox::app {

class SplashWindow : public QWidget {
    Q_OBJECT
public:
    static constexpr int kWidth = 420;
    static constexpr int kHeight = 172;

    explicit SplashWindow(QWidget* parent = nullptr);

    // About: the banner without the initialising text; its OK is enabled since start-up.
    void ShowAbout();

    QPushButton* OkButton() const { return Ok_; }
    // The window has been drawn at least once.
    bool Painted() const { return Painted_; }
    QLabel* InitialisingLabel() const { return Initialising_; }

signals:
    void okPressed(); // the window has hidden itself; the main window is to be shown
    void closed();    // the window was closed: the program ends

protected:
    void paintEvent(QPaintEvent*) override;
    void showEvent(QShowEvent*) override;
    void closeEvent(QCloseEvent*) override;
    bool event(QEvent*) override;

private:
    void StartOkTimer();

    QLabel* Initialising_;
    QPushButton* Ok_;
    QTimer OkTimer_; // one shot, 1000 ms, started when the window becomes active
    bool Painted_ = false;
};

} // namespace zelvox::app
