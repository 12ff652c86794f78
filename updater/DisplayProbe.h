#pragma once
// Whether the desktop named by the environment can be reached (ZRVUpdate
// keeps its own copy: it links against nothing of the server), asked before
// the window toolkit is started (which would abort on a display that is
// gone, such as that of an ended "ssh -X" session).
#include <QString>

// True when a window can be shown: an X display that accepts a connection,
// a Wayland socket that answers, or a Qt platform that needs no display.
// False, with the reason, otherwise (nothing to show on, or it cannot be
// opened).
bool DisplayUsable(QString& why);
