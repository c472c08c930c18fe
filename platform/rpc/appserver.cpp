#include "rpc/appserver.h"

#include "rpc/rpcerror.h"

namespace fis {

RpcValue RpcArg::value() const
{
    if (QString *const *s = std::get_if<QString *>(&m_target))
        return **s;
    if (double *const *d = std::get_if<double *>(&m_target))
        return **d;
    if (QDateTime *const *dt = std::get_if<QDateTime *>(&m_target))
        return **dt;
    if (RpcValue *const *v = std::get_if<RpcValue *>(&m_target))
        return **v;
    return m_value;
}

bool RpcArg::accepts(const RpcValue &value) const
{
    if (std::holds_alternative<QString *>(m_target))
        return value.isText() || value.isNull();
    if (std::holds_alternative<double *>(m_target))
        return value.isNumber();
    if (std::holds_alternative<QDateTime *>(m_target)) {
        if (value.isNull())
            return true;
        if (!value.isDate())
            return false;
        try {
            value.toDateTime();
            return true;
        } catch (const RpcError &) {
            return false;
        }
    }
    return true;
}

void RpcArg::assign(const RpcValue &value) const
{
    if (QString *const *s = std::get_if<QString *>(&m_target))
        **s = value.isNull() ? QString() : value.toText();
    else if (double *const *d = std::get_if<double *>(&m_target))
        **d = value.toDouble();
    else if (QDateTime *const *dt = std::get_if<QDateTime *>(&m_target))
        **dt = value.isNull() ? QDateTime() : value.toDateTime();
    else if (RpcValue *const *v = std::get_if<RpcValue *>(&m_target))
        **v = value;
}

AppServer::AppServer(RpcCaller *caller, const QString &objectName)
    : m_caller(caller)
    , m_objectName(objectName)
{}

RpcValue AppServer::call(const QString &method, const QList<RpcArg> &args) const
{
    if (!m_caller)
        throw RpcError(RpcError::Kind::NotConnected,
                       QStringLiteral("A conexão com o servidor de aplicação não existe mais."));
    return m_caller->callObject(m_objectName, method, args);
}

} // namespace fis
