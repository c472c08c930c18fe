#pragma once

#include "rpc/rpcvalue.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

namespace fis {

// The positional arguments of one call, as a method handler sees them.
//
// Indexes are 0-based; error texts count from 1, as people number arguments. Every typed getter
// throws RpcError(Server) with a text such as "O argumento 4 de GetRegistro deve ser uma data,
// não texto.", which the server sends to the caller as the answer's error.
class RpcArgs
{
public:
    RpcArgs(const QString &method, QList<RpcValue> values, QList<qsizetype> byRef = {});

    const QString &method() const { return m_method; }
    qsizetype count() const { return m_values.size(); }
    // Throws unless exactly `count` arguments came.
    void expectCount(qsizetype count) const;

    const RpcValue &at(qsizetype index) const;
    QString text(qsizetype index) const;
    // A double or an integer.
    double number(qsizetype index) const;
    // An automation date (days since 1899-12-30).
    double date(qsizetype index) const;
    QDateTime dateTime(qsizetype index) const;
    QByteArray packet(qsizetype index) const;
    const QList<RpcValue> &array(qsizetype index) const;

    // Whether the caller passed the argument by reference: its final value goes back.
    bool isByRef(qsizetype index) const { return m_byRef.contains(index); }
    // Changes an argument; the final values of the by-reference ones go back to the caller.
    void set(qsizetype index, const RpcValue &value);

    const QList<RpcValue> &values() const { return m_values; }
    const QList<qsizetype> &byRef() const { return m_byRef; }

    // The calling client's session (see RpcSession::session()); empty outside a session.
    const QString &session() const { return m_session; }
    void setSession(const QString &session) { m_session = session; }

private:
    void checkIndex(qsizetype index) const;
    [[noreturn]] void wrongKind(qsizetype index, const QString &wanted) const;

    QString m_method;
    QList<RpcValue> m_values;
    QList<qsizetype> m_byRef;
    QString m_session;
};

} // namespace fis
