#pragma once

// The calling side of the protocol without its transport: the arguments of a call and a handle
// on a server object. The contract between the module and the server is written against these.

#include "rpc/rpcvalue.h"

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include <concepts>
#include <type_traits>
#include <variant>

namespace fis {

// One positional argument of a call: a value, or a reference to one of the caller's variables.
// A by-reference argument sends the variable's current value and, after the answer, receives
// what the server left in it. The variable must outlive the call.
class RpcArg
{
public:
    template<typename T>
    requires(!std::same_as<std::remove_cvref_t<T>, RpcArg> && std::constructible_from<RpcValue, T>)
        RpcArg(T &&value)
        : m_value(std::forward<T>(value))
    {}

    // Text comes back as text; a null comes back as an empty text.
    static RpcArg ref(QString &variable) { return RpcArg(&variable); }
    // A number comes back as a double or an integer.
    static RpcArg ref(double &variable) { return RpcArg(&variable); }
    // A date comes back as a date; a null comes back as an invalid QDateTime.
    static RpcArg ref(QDateTime &variable) { return RpcArg(&variable); }
    // Any value comes back.
    static RpcArg ref(RpcValue &variable) { return RpcArg(&variable); }

    bool isByRef() const { return !std::holds_alternative<std::monostate>(m_target); }
    // What goes on the wire: the value, or the variable's current value.
    RpcValue value() const;
    // Whether `value` may be written into the variable; a by-value argument takes anything.
    bool accepts(const RpcValue &value) const;
    // Writes `value` into the variable; call accepts() first.
    void assign(const RpcValue &value) const;

private:
    template<typename P>
    explicit RpcArg(P *target)
        : m_target(target)
    {}

    RpcValue m_value;
    std::variant<std::monostate, QString *, double *, QDateTime *, RpcValue *> m_target;
};

// Shorthand for RpcArg::ref().
template<typename T> RpcArg byRef(T &variable)
{
    return RpcArg::ref(variable);
}

// What carries calls to the objects of an application server: the client connection
// (rpcclient/netconnection.h), or anything else that speaks the protocol. A QObject, so that a
// handle on one notices when it is gone.
class RpcCaller : public QObject
{
public:
    using QObject::QObject;
    // Calls `method` of `object`; by-reference arguments receive what the answer leaves.
    virtual RpcValue callObject(const QString &object, const QString &method,
                                const QList<RpcArg> &args) = 0;
};

// A handle on the server object named by a connection, taken afresh for each call.
class AppServer
{
public:
    AppServer(RpcCaller *caller, const QString &objectName);

    // Calls a method of the object; see the caller (NetConnection::call()) for what it throws.
    RpcValue call(const QString &method, const QList<RpcArg> &args = {}) const;
    const QString &objectName() const { return m_objectName; }

private:
    QPointer<RpcCaller> m_caller;
    QString m_objectName;
};

} // namespace fis
