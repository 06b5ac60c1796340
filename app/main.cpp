// The desktop program: the splash window first, the main window after its "OK".

#include "app/ErrorDisplay.h"

#include "app/MainWindow.h"
#include "app/SplashWindow.h"

int main(int argc, char** argv) {
    zelvox::app::Application app(argc, argv);
    QApplication::setApplicationName("Zelvox");
    QApplication::setQuitOnLastWindowClosed(false);

    zelvox::app::SplashWindow splash;
    zelvox::app::MainWindow main;
    QObject::connect(&splash, &zelvox::app::SplashWindow::okPressed, &main, [&] {
        main.show();
        main.activateWindow();
    });
    QObject::connect(&main, &zelvox::app::MainWindow::aboutRequested, &splash, &zelvox::app::SplashWindow::ShowAbout);
    QObject::connect(&main, &zelvox::app::MainWindow::closed, &splash, &QWidget::close);
    QObject::connect(&splash, &zelvox::app::SplashWindow::closed, &app, &QApplication::quit);
    splash.show();
    return app.exec();
}
