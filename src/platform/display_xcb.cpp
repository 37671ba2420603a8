#include "platform/display.h"

#include <xcb/xcb.h>

#include <memory>

namespace platform {

bool XDisplayReachable(const QString& display) {
    const QByteArray name = display.toLocal8Bit();
    // xcb_connect never returns null: a failed connection is an object in an error state, and
    // either kind is released by xcb_disconnect.
    const std::unique_ptr<xcb_connection_t, decltype(&xcb_disconnect)> connection(
        xcb_connect(name.constData(), nullptr), &xcb_disconnect);
    return connection && xcb_connection_has_error(connection.get()) == 0;
}

}  // namespace platform
