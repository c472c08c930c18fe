#pragma once

#include <QByteArray>

namespace fis {

// Tells the service manager how the server is doing ("READY=1", "STOPPING=1", "STATUS=..."),
// through the datagram socket systemd names in $NOTIFY_SOCKET for a unit of Type=notify, so that
// the unit counts as started only once clients can connect. False, and nothing done, when the
// variable is not set (a server started by hand or by a test) or the message could not be sent.
bool notifyServiceManager(const QByteArray &state);

} // namespace fis
