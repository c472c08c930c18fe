#include "rpc/rpcvalue.h"

#include "base/automationdate.h"
#include "rpc/rpcerror.h"

#include <QStringList>

#include <cmath>

namespace fis {

RpcValue::RpcValue(const QDateTime &dateTime)
{
    if (dateTime.isValid())
        m_data = Date{fis::toAutomationDate(dateTime)};
}

RpcValue::RpcValue(const QDate &date)
{
    if (date.isValid())
        m_data = Date{fis::toAutomationDate(date)};
}

RpcValue RpcValue::fromAutomationDate(double days)
{
    if (!std::isfinite(days))
        throw RpcError(RpcError::Kind::BadValue,
                       QStringLiteral("Uma data deve ser um número finito."));
    RpcValue v;
    v.m_data = Date{days};
    return v;
}

RpcValue RpcValue::fromPacket(const QByteArray &packet)
{
    RpcValue v;
    v.m_data = Packet{packet};
    return v;
}

void RpcValue::visitPackets(const std::function<void(QByteArray &)> &visit)
{
    if (auto *packet = std::get_if<Packet>(&m_data))
        visit(packet->bytes);
    else if (auto *items = std::get_if<QList<RpcValue>>(&m_data))
        for (RpcValue &item : *items)
            item.visitPackets(visit);
}

QString RpcValue::kindName(Kind kind)
{
    switch (kind) {
    case Kind::Null:
        return QStringLiteral("nulo");
    case Kind::Bool:
        return QStringLiteral("lógico");
    case Kind::Integer:
        return QStringLiteral("inteiro");
    case Kind::Double:
        return QStringLiteral("número");
    case Kind::Text:
        return QStringLiteral("texto");
    case Kind::Date:
        return QStringLiteral("data");
    case Kind::Packet:
        return QStringLiteral("pacote de dados");
    case Kind::Array:
        return QStringLiteral("lista");
    }
    return QStringLiteral("desconhecido");
}

void RpcValue::wrongKind(Kind wanted) const
{
    throw RpcError(RpcError::Kind::BadValue,
                   QStringLiteral("Era esperado um valor do tipo %1, não do tipo %2.")
                       .arg(kindName(wanted), kindName(kind())));
}

bool RpcValue::toBool() const
{
    if (const bool *b = std::get_if<bool>(&m_data))
        return *b;
    wrongKind(Kind::Bool);
}

qint64 RpcValue::toInteger() const
{
    if (const qint64 *i = std::get_if<qint64>(&m_data))
        return *i;
    wrongKind(Kind::Integer);
}

double RpcValue::toDouble() const
{
    if (const double *d = std::get_if<double>(&m_data))
        return *d;
    if (const qint64 *i = std::get_if<qint64>(&m_data))
        return double(*i);
    wrongKind(Kind::Double);
}

QString RpcValue::toText() const
{
    if (const QString *s = std::get_if<QString>(&m_data))
        return *s;
    wrongKind(Kind::Text);
}

double RpcValue::toAutomationDate() const
{
    if (const Date *d = std::get_if<Date>(&m_data))
        return d->days;
    wrongKind(Kind::Date);
}

QDateTime RpcValue::toDateTime() const
{
    const QDateTime dt = fis::fromAutomationDate(toAutomationDate());
    if (!dt.isValid())
        throw RpcError(
            RpcError::Kind::BadValue,
            QStringLiteral("A data %1 está fora do intervalo aceito.").arg(toAutomationDate()));
    return dt;
}

QByteArray RpcValue::toPacket() const
{
    if (const Packet *p = std::get_if<Packet>(&m_data))
        return p->bytes;
    wrongKind(Kind::Packet);
}

const QList<RpcValue> &RpcValue::toArray() const
{
    if (const QList<RpcValue> *a = std::get_if<QList<RpcValue>>(&m_data))
        return *a;
    wrongKind(Kind::Array);
}

const RpcValue &RpcValue::at(qsizetype index) const
{
    const QList<RpcValue> &a = toArray();
    if (index < 0 || index >= a.size())
        throw RpcError(
            RpcError::Kind::BadValue,
            QStringLiteral("A lista não tem o elemento %1 (ela tem %2).").arg(index).arg(a.size()));
    return a.at(index);
}

QString RpcValue::toDiagnostic() const
{
    constexpr qsizetype kShown = 40;
    switch (kind()) {
    case Kind::Null:
        return QStringLiteral("null");
    case Kind::Bool:
        return toBool() ? QStringLiteral("true") : QStringLiteral("false");
    case Kind::Integer:
        return QString::number(toInteger());
    case Kind::Double:
        return QString::number(toDouble(), 'g', 17);
    case Kind::Text: {
        const QString s = toText();
        return u'"' + (s.size() > kShown ? s.left(kShown) + QStringLiteral("...") : s) + u'"';
    }
    case Kind::Date:
        return QStringLiteral("1899(%1)").arg(QString::number(toAutomationDate(), 'g', 17));
    case Kind::Packet: {
        const QByteArray p = toPacket();
        return QStringLiteral("24(h'%1%2' %3 bytes)")
            .arg(QString::fromLatin1(p.left(16).toHex()),
                 p.size() > 16 ? QStringLiteral("...") : QString())
            .arg(p.size());
    }
    case Kind::Array: {
        QStringList parts;
        for (const RpcValue &v : toArray())
            parts << v.toDiagnostic();
        return u'[' + parts.join(QStringLiteral(", ")) + u']';
    }
    }
    return {};
}

std::optional<QString> answerFailure(const RpcValue &answer, int index)
{
    QString error;
    if (answer.isText()) {
        if (answer.toText() == QLatin1String("OK"))
            return std::nullopt;
        error = answer.toText();
    } else if (answer.isArray() && index >= 0 && index < answer.size()) {
        const RpcValue &status = answer.at(index);
        if (status.isText() && status.toText() == QLatin1String("OK"))
            return std::nullopt;
        error =
            status.isText()
                ? status.toText()
                : QStringLiteral("Resposta inválida do servidor: %1").arg(status.toDiagnostic());
    } else {
        error = QStringLiteral("Resposta inválida do servidor: %1").arg(answer.toDiagnostic());
    }
    if (error.isEmpty())
        error = QStringLiteral("O servidor não informou o resultado da operação.");
    return error;
}

} // namespace fis
