#include "MainWindow.h"

// The skinned main window comes with the window toolkit; until then there is no
// window that could ever end a message loop, so none is run.
int RunMainWindow()
{
    return 1;
}
