#include "rpcserver/rpcmethodtable.h"

#include "rpc/peertext.h"

#include <stdexcept>

namespace fis {

void RpcMethodTable::registerMethod(const QString &object, const QString &method,
                                    RpcHandler handler)
{
    if (object.isEmpty() || method.isEmpty())
        throw std::invalid_argument("registerMethod: empty object or method name");
    if (!handler)
        throw std::invalid_argument("registerMethod: no handler");
    QHash<QString, RpcHandler> &methods = m_objects[object.toLower()];
    const QString key = method.toLower();
    if (methods.contains(key))
        throw std::invalid_argument(QStringLiteral("registerMethod: %1.%2 registered twice")
                                        .arg(object, method)
                                        .toStdString());
    methods.insert(key, std::move(handler));
}

const RpcHandler *RpcMethodTable::find(const QString &object, const QString &method,
                                       QString *error) const
{
    const auto o = m_objects.constFind(object.toLower());
    if (o == m_objects.cend()) {
        *error = QStringLiteral("Objeto do servidor desconhecido: \"%1\".").arg(printable(object));
        return nullptr;
    }
    const auto m = o->constFind(method.toLower());
    if (m == o->cend()) {
        *error = QStringLiteral("O objeto do servidor \"%1\" não tem o método \"%2\".")
                     .arg(printable(object), printable(method));
        return nullptr;
    }
    return &m.value();
}

} // namespace fis
