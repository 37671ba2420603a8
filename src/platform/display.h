#pragma once
// Whether the window system named in the environment can be reached.
#include <QString>

namespace platform {

// True when the X server that `display` names (in DISPLAY's form, for example ":0" or
// "host:1.0") accepts this process as a client, the connection a window program makes first;
// false when no server answers there or it refuses the connection.
bool XDisplayReachable(const QString& display);

}  // namespace platform
