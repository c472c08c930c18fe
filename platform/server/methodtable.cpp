#include "server/methodtable.h"

#include <stdexcept>

namespace fis {

void MethodTable::add(const QString &object, const QString &method, RpcHandler handler)
{
    if (object.isEmpty() || method.isEmpty() || !handler)
        throw std::invalid_argument("MethodTable::add: empty name or no handler");
    QHash<QString, RpcHandler> &methods = m_objects[object.toLower()];
    if (methods.contains(method.toLower()))
        throw std::invalid_argument("MethodTable::add: method registered twice");
    methods.insert(method.toLower(), std::move(handler));
}

const RpcHandler *MethodTable::find(const QString &object, const QString &method,
                                    QString *error) const
{
    const auto o = m_objects.constFind(object.toLower());
    if (o == m_objects.cend()) {
        *error = QStringLiteral("Unknown server object \"%1\".").arg(object);
        return nullptr;
    }
    const auto m = o->constFind(method.toLower());
    if (m == o->cend()) {
        *error =
            QStringLiteral("The server object \"%1\" has no method \"%2\".").arg(object, method);
        return nullptr;
    }
    return &m.value();
}

} // namespace fis
