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
        throw RpcError(QStringLiteral("%1 recebe %2 argumentos, não %3.")
                           .arg(m_method)
                           .arg(count)
                           .arg(m_values.size()));
}

void RpcArgs::checkIndex(qsizetype index) const
{
    if (index < 0 || index >= m_values.size())
        throw RpcError(QStringLiteral("%1 precisa do argumento %2, mas só vieram %3.")
                           .arg(m_method)
                           .arg(index + 1)
                           .arg(m_values.size()));
}

void RpcArgs::wrongKind(qsizetype index, const QString &wanted) const
{
    throw RpcError(QStringLiteral("O argumento %1 de %2 deve ser %3, não %4.")
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
        wrongKind(index, QStringLiteral("texto"));
    return v.toText();
}

double RpcArgs::number(qsizetype index) const
{
    const RpcValue &v = at(index);
    if (!v.isNumber())
        wrongKind(index, QStringLiteral("um número"));
    return v.toDouble();
}

double RpcArgs::date(qsizetype index) const
{
    const RpcValue &v = at(index);
    if (!v.isDate())
        wrongKind(index, QStringLiteral("uma data"));
    return v.toAutomationDate();
}

QDateTime RpcArgs::dateTime(qsizetype index) const
{
    date(index);
    try {
        return m_values.at(index).toDateTime();
    } catch (const RpcError &) {
        throw RpcError(QStringLiteral("O argumento %1 de %2 é uma data fora do intervalo aceito.")
                           .arg(index + 1)
                           .arg(m_method));
    }
}

QByteArray RpcArgs::packet(qsizetype index) const
{
    const RpcValue &v = at(index);
    if (!v.isPacket())
        wrongKind(index, QStringLiteral("um pacote de dados"));
    return v.toPacket();
}

const QList<RpcValue> &RpcArgs::array(qsizetype index) const
{
    const RpcValue &v = at(index);
    if (!v.isArray())
        wrongKind(index, QStringLiteral("uma lista"));
    return v.toArray();
}

void RpcArgs::set(qsizetype index, const RpcValue &value)
{
    checkIndex(index);
    m_values[index] = value;
}

} // namespace fis
