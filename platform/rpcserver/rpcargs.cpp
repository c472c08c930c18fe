#include "rpcserver/rpcargs.h"

#include "rpc/rpcerror.h"

namespace fis {

RpcArgs::RpcArgs(const QString &method, QList<RpcValue> values, QList<qsizetype> byRef)
    : m_method(method)
    , m_values(std::move(values))
    , m_byRef(std::move(byRef))
{}

void RpcArgs::expectCount(qsizetype count) const
{
    if (m_values.size() != count)
        throw RpcError(QStringLiteral("%1 takes %2 arguments, not %3.")
                           .arg(m_method)
                           .arg(count)
                           .arg(m_values.size()));
}

void RpcArgs::checkIndex(qsizetype index) const
{
    if (index < 0 || index >= m_values.size())
        throw RpcError(QStringLiteral("%1 needs argument %2, but only %3 came.")
                           .arg(m_method)
                           .arg(index + 1)
                           .arg(m_values.size()));
}

void RpcArgs::wrongKind(qsizetype index, const QString &wanted) const
{
    throw RpcError(QStringLiteral("argument %1 of %2 must be %3, not %4.")
                       .arg(index + 1)
                       .arg(m_method, wanted, RpcValue::kindName(m_values.at(index).kind())));
}

const RpcValue &RpcArgs::at(qsizetype index) const
{
    checkIndex(index);
    return m_values.at(index);
}

QString RpcArgs::text(qsizetype index) const
{
    const RpcValue &v = at(index);
    if (!v.isText())
        wrongKind(index, QStringLiteral("text"));
    return v.toText();
}

double RpcArgs::number(qsizetype index) const
{
    const RpcValue &v = at(index);
    if (!v.isNumber())
        wrongKind(index, QStringLiteral("a number"));
    return v.toDouble();
}

double RpcArgs::date(qsizetype index) const
{
    const RpcValue &v = at(index);
    if (!v.isDate())
        wrongKind(index, QStringLiteral("a date"));
    return v.toAutomationDate();
}

QDateTime RpcArgs::dateTime(qsizetype index) const
{
    date(index);
    try {
        return m_values.at(index).toDateTime();
    } catch (const RpcError &) {
        throw RpcError(QStringLiteral("argument %1 of %2 is a date out of range.")
                           .arg(index + 1)
                           .arg(m_method));
    }
}

QByteArray RpcArgs::packet(qsizetype index) const
{
    const RpcValue &v = at(index);
    if (!v.isPacket())
        wrongKind(index, QStringLiteral("a data packet"));
    return v.toPacket();
}

const QList<RpcValue> &RpcArgs::array(qsizetype index) const
{
    const RpcValue &v = at(index);
    if (!v.isArray())
        wrongKind(index, QStringLiteral("an array"));
    return v.toArray();
}

void RpcArgs::set(qsizetype index, const RpcValue &value)
{
    checkIndex(index);
    m_values[index] = value;
}

} // namespace fis
