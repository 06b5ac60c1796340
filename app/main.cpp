// The desktop program: the splash window first, the main window after its "OK".

#include "app/ErrorDisplay.h"
#include "app/Program.h"

int main(int argc, char** argv) {
    zelvox::app::Application app(argc, argv);
    zelvox::app::Application::setApplicationName("Zelvox");
    zelvox::app::Application::setQuitOnLastWindowClosed(false);

    zelvox::app::Program program;
    QObject::connect(&program, &zelvox::app::Program::finished, &app, &QApplication::quit);
    program.Start();
    return app.exec();
}
