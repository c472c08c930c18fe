#include "server/servicenotify.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace fis {

bool notifyServiceManager(const QByteArray &state)
{
    const char *path = std::getenv("NOTIFY_SOCKET");
    if (!path || !*path)
        return false;
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    const size_t length = std::strlen(path);
    if (length >= sizeof(address.sun_path))
        return false;
    std::memcpy(address.sun_path, path, length);
    // "@name" is a socket in the abstract namespace, whose name begins with a zero byte.
    if (address.sun_path[0] == '@')
        address.sun_path[0] = '\0';
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const auto size = socklen_t(offsetof(sockaddr_un, sun_path) + length);
    const ssize_t sent = ::sendto(fd, state.constData(), size_t(state.size()), MSG_NOSIGNAL,
                                  reinterpret_cast<const sockaddr *>(&address), size);
    ::close(fd);
    return sent == state.size();
}

} // namespace fis
