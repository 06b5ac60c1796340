#include "app/SplashWindow.h"

#include <QCloseEvent>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScreen>

#include <cmath>
#include <cstdio>
#include <ctime>

#include "ui/PlatformLine.h"
#include "ui/qt/ModelLink.h"

namespace zelvox::app {

using qt::PanelFont;

namespace {
QLabel* MakeLabel(QWidget* parent, const QString& text, const QFont& font, QColor colour, QRect where,
                  Qt::Alignment align = Qt::AlignLeft | Qt::AlignVCenter) {
    auto* l = new QLabel(text, parent);
    l->setFont(font);
    QPalette pal = l->palette();
    pal.setColor(QPalette::WindowText, colour);
    l->setPalette(pal);
    l->setGeometry(where);
    l->setAlignment(align);
    return l;
}
} // namespace

SplashWindow::SplashWindow(QWidget* parent) : QWidget(parent, Qt::FramelessWindowHint | Qt::Window) {
    setObjectName("Form2");
    setWindowTitle("Zelvox");
    setFixedSize(kWidth, kHeight);

    const QColor text(230, 240, 255);
    auto* name = MakeLabel(this, "Zelvox", PanelFont(40, true), QColor(255, 255, 255), QRect(20, 10, 260, 52));
    name->setObjectName("ProductName");
    MakeLabel(this, "Pattern synthesizer: bass, Twin-T drum and noise voices", PanelFont(12), text,
              QRect(22, 64, 390, 18))
        ->setObjectName("Description");
    // The system the program runs on, as this machine names it; a long name ends in "...".
    const QRect platformRect(22, 90, kWidth - 44, 18);
    const QString platform = QFontMetrics(PanelFont(12, true))
                                 .elidedText(QString::fromStdString(PlatformLine()), Qt::ElideRight,
                                             platformRect.width());
    MakeLabel(this, platform, PanelFont(12, true), QColor(0, 255, 0), platformRect)
        ->setObjectName("Platform");
    MakeLabel(this, "V3.0", PanelFont(18, true), QColor(255, 210, 0), QRect(300, 24, 100, 26),
              Qt::AlignRight | Qt::AlignVCenter)
        ->setObjectName("Version");
    Initialising_ = MakeLabel(this, "Initialising, please wait ....", PanelFont(12), text, QRect(22, 132, 260, 20));
    Initialising_->setObjectName("Initialising");

    Ok_ = new QPushButton("OK", this);
    Ok_->setObjectName("Button1");
    Ok_->setGeometry(kWidth - 96, kHeight - 42, 76, 26);
    Ok_->setEnabled(false);
    connect(Ok_, &QPushButton::clicked, this, [this] {
        hide();
        emit okPressed();
    });

    OkTimer_.setSingleShot(true);
    OkTimer_.setTimerType(Qt::PreciseTimer); // never early: the user gets at least one second
    OkTimer_.setInterval(1000);
    connect(&OkTimer_, &QTimer::timeout, this, [this] { Ok_->setEnabled(true); });

    // Centred on the screen.
    if (QScreen* s = QGuiApplication::primaryScreen()) move(s->availableGeometry().center() - rect().center());
}

void SplashWindow::ShowAbout() {
    Initialising_->hide();
    show();
    raise();
    activateWindow();
}

void SplashWindow::StartOkTimer() {
    if (!OkTimer_.isActive()) OkTimer_.start();
}

void SplashWindow::showEvent(QShowEvent* e) {
    // Platforms without window activation (offscreen) never send the activation event, so
    // the first show starts the timer as well; on a desktop both arrive together.
    StartOkTimer();
    QWidget::showEvent(e);
}

bool SplashWindow::event(QEvent* e) {
    if (e->type() == QEvent::WindowActivate) StartOkTimer();
    return QWidget::event(e);
}

void SplashWindow::closeEvent(QCloseEvent* e) {
    e->accept();
    emit closed();
}

void SplashWindow::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient bg(0, 0, 0, height());
    bg.setColorAt(0, QColor(20, 36, 88));
    bg.setColorAt(1, QColor(4, 8, 28));
    p.fillRect(rect(), bg);

    // Decoration: a faint sawtooth and a decaying sine across the lower half.
    p.setPen(QPen(QColor(90, 130, 255, 90), 2));
    QPainterPath saw;
    for (int x = 0; x <= width(); x += 40) {
        saw.moveTo(x, 150);
        saw.lineTo(x + 40, 112);
        saw.lineTo(x + 40, 150);
    }
    p.drawPath(saw);
    p.setPen(QPen(QColor(0, 255, 120, 80), 2));
    QPainterPath sine;
    for (int x = 0; x <= width(); ++x) {
        const double env = std::exp(-x / 180.0);
        const double y = 118 - 22 * env * std::sin(x / 9.0);
        if (x == 0) sine.moveTo(x, y);
        else sine.lineTo(x, y);
    }
    p.drawPath(sine);

    p.setPen(QPen(QColor(130, 160, 255), 1));
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5));
    if (!Painted_) {
        Painted_ = true;
        // For scripts/measure-startup.sh: when the splash was first drawn, on the wall clock.
        if (qEnvironmentVariableIsSet("ZELVOX_STARTUP_LOG")) {
            timespec now{};
            clock_gettime(CLOCK_REALTIME, &now);
            std::fprintf(stderr, "zelvox: splash painted at %lld.%09ld\n",
                         static_cast<long long>(now.tv_sec), now.tv_nsec);
        }
    }
}

} // namespace zelvox::app
