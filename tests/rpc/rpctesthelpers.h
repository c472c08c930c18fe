#pragma once

#include "rpc/rpcerror.h"

#include <QString>

#include <functional>

namespace fis::test {

inline QString kindName(RpcError::Kind kind)
{
    static const char *const names[] = {"NotConnected",  "ConnectFailed",  "Handshake",
                                        "Timeout",       "ConnectionLost", "Protocol",
                                        "FrameTooLarge", "Server",         "BadValue"};
    return QString::fromLatin1(names[int(kind)]);
}

// The kind of RpcError that `f` throws, by name, or "no error"; the message goes to *message.
inline QString thrown(const std::function<void()> &f, QString *message = nullptr)
{
    try {
        f();
    } catch (const RpcError &e) {
        if (message)
            *message = e.message();
        return kindName(e.kind());
    }
    return QStringLiteral("no error");
}

inline QString expected(RpcError::Kind kind)
{
    return kindName(kind);
}

} // namespace fis::test
