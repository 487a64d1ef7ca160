// One copy of the program per player: the first start holds a named mutex in
// the session's namespace for as long as it runs (the system lets go of it
// when the process ends, however it ends); a second start brings the first
// copy's window to the front and ends at once. Where the name is taken but no
// window of the program shows, another program took it, and this copy runs.
#pragma once

#include "ScopedHandle.h"

class SingleInstance {
public:
    // Takes the program's name in this session; false when another copy of
    // the program holds it.
    bool Claim();

    // Brings the running copy's main window (or the dialog it shows) to the
    // front, restored if it was minimised; waits a little for a copy that is
    // still starting. False when no such window came.
    static bool ShowRunningCopy();

private:
    ScopedHandle mutex_;
};
