#pragma once

#include "rpc/rpcvalue.h"
#include "rpcserver/rpcargs.h"

#include <QHash>
#include <QString>

#include <functional>

namespace fis {

// A method of a server object. It reads its arguments from `args`, may change them (the
// by-reference ones go back to the caller) and returns the result. Whatever it throws becomes
// the answer's error text: an RpcError's message or a std::exception's what().
using RpcHandler = std::function<RpcValue(RpcArgs &args)>;

// The server objects' methods by name. Object and method names match ignoring letter case, as
// late-bound calls do.
class RpcMethodTable
{
public:
    // Throws std::invalid_argument for an empty name, a missing handler or a method registered
    // twice.
    void registerMethod(const QString &object, const QString &method, RpcHandler handler);
    // Null when the object or method is unknown; *error then says which, in the words the
    // caller is answered with.
    const RpcHandler *find(const QString &object, const QString &method, QString *error) const;

private:
    // Lower-cased object name, then lower-cased method name.
    QHash<QString, QHash<QString, RpcHandler>> m_objects;
};

} // namespace fis
