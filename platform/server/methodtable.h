#pragma once

#include "rpc/rpcserver.h"

#include <QHash>
#include <QString>

namespace fis {

// The server objects' methods by name, matched ignoring letter case as late-bound calls are.
class MethodTable
{
public:
    // Throws std::invalid_argument for an empty name, a missing handler or a duplicate.
    void add(const QString &object, const QString &method, RpcHandler handler);
    // Null when the object or method is unknown; *error then says which, for the caller.
    const RpcHandler *find(const QString &object, const QString &method, QString *error) const;

private:
    QHash<QString, QHash<QString, RpcHandler>> m_objects;
};

} // namespace fis
