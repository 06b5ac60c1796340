#include "app/MainWindow.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QMenuBar>
#include <QScreen>
#include <QStatusBar>

#include "ui/qt/ModelLink.h"

namespace zelvox::app {

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent) {
    setObjectName("Form1");
    setWindowTitle("Zelvox");
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);

    Panel_ = new QWidget(this);
    Panel_->setObjectName("Panel");
    Panel_->setAutoFillBackground(true);
    QPalette pal = Panel_->palette();
    pal.setColor(QPalette::Window, QColor(0x80, 0x80, 0x80));
    Panel_->setPalette(pal);
    Panel_->setFixedSize(kClientWidth, kClientHeight - kStatusHeight);
    Panel_->setFont(qt::PanelFont(11));
    setCentralWidget(Panel_);

    Status_ = new QLabel("DSP Usage : 0%");
    Status_->setObjectName("StatusText");
    Status_->setFont(qt::PanelFont(11));
    statusBar()->addWidget(Status_, 1);
    statusBar()->setSizeGripEnabled(false);
    statusBar()->setFixedHeight(kStatusHeight);

    BuildMenus();
    setFixedSize(kClientWidth, menuBar()->sizeHint().height() + kClientHeight);
    if (QScreen* s = QGuiApplication::primaryScreen()) move(s->availableGeometry().center() - rect().center());
}

void MainWindow::BuildMenus() {
    QMenuBar* bar = menuBar();
    bar->setObjectName("MainMenu1");
    QMenu* file = bar->addMenu("&File");
    file->addAction("&Load pattern");
    file->addAction("&Save pattern");
    file->addAction("&Record to wav");
    file->addSeparator();
    file->addAction("&Exit", this, &QWidget::close);

    QMenu* edit = bar->addMenu("&Edit");
    edit->addAction("&Copy");
    edit->addAction("&Paste");

    QMenu* mode = bar->addMenu("Edit-&mode");
    mode->addAction("&All Notes");
    mode->addAction("&Selected Note");

    QMenu* synth = bar->addMenu("S&ynth-mode");
    synth->addAction("&Bass synth");
    synth->addAction("&Twin-T synth");
    synth->addAction("&Noise synth");
    synth->addAction("&Arranger");

    QMenu* setup = bar->addMenu("&Setup");
    setup->addAction("&Audio");
    setup->addAction("&MIDI");
    setup->addAction("&Envelopes");

    QMenu* help = bar->addMenu("&Help");
    help->addAction("&About", this, &MainWindow::aboutRequested);
    help->addAction("&Help");
}

QAction* MainWindow::FindAction(const QString& caption) const {
    for (QAction* a : findChildren<QAction*>())
        if (a->text() == caption) return a;
    return nullptr;
}

void MainWindow::closeEvent(QCloseEvent* e) {
    e->accept();
    emit closed();
}

} // namespace zelvox::app
