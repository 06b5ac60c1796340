// zelvox-window: the plugin's window, started by the plugin's UI library in the host.
#include "app/PluginWindow.h"

int main(int argc, char** argv) {
    return zelvox::app::RunPluginWindow(argc, argv);
}
