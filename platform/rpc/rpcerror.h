#pragma once

#include "base/error.h"

#include <QString>

namespace fis {

// Every failure of the wire protocol, on either side, is an RpcError. The message is meant for
// the user (the host shows it as it stands); kind() lets callers tell the cases apart.
class RpcError : public Error
{
public:
    enum class Kind {
        NotConnected,   // a call on a connection that is not open
        ConnectFailed,  // refused, unknown host, unreachable, no host set
        Handshake,      // the server refused the hello or answered it wrongly
        Timeout,        // no connection or no answer within the configured time
        ConnectionLost, // the peer closed or reset the connection
        Protocol,       // a malformed frame or message
        FrameTooLarge,  // a frame over the size limit
        Server,   // the server's own error text: a failed method, unknown method, bad argument
        BadValue, // a value of another kind than the one asked for
    };

    RpcError(Kind kind, const QString &message)
        : Error(errorKindOf(kind), message)
        , m_kind(kind)
    {}
    // The form a method handler throws: the text goes to the caller as the answer's error.
    explicit RpcError(const QString &message)
        : RpcError(Kind::Server, message)
    {}

    Kind kind() const { return m_kind; }

private:
    static Error::Kind errorKindOf(Kind kind)
    {
        switch (kind) {
        case Kind::NotConnected:
        case Kind::ConnectFailed:
        case Kind::Timeout:
        case Kind::ConnectionLost:
            return Error::Kind::Connection;
        case Kind::Server:
            return Error::Kind::Server;
        default:
            return Error::Kind::Protocol;
        }
    }

    Kind m_kind;
};

} // namespace fis
