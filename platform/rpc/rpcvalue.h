#pragma once

#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringBuilder>

#include <concepts>
#include <cstddef>
#include <functional>
#include <optional>
#include <variant>

namespace fis {

// One argument or result of a server call.
//
// Kinds: null, bool, integer, double, text, date (an automation date: days since 1899-12-30, the
// fraction being the time of day), data packet (an encoded table, opaque here: the dataset library
// reads and writes it) and array. A date is never text, and a packet is never re-encoded: both
// keep their own kind from caller to handler and back.
//
// The accessors are strict: asking for another kind than the value holds throws
// RpcError(BadValue) naming both kinds. Only toDouble() also accepts an integer, since a number
// may travel either way.
class RpcValue
{
public:
    enum class Kind { Null, Bool, Integer, Double, Text, Date, Packet, Array };

    RpcValue() = default;
    RpcValue(std::nullptr_t) {}
    // Only a real bool: a pointer or a string literal must never turn into one.
    template<std::same_as<bool> B>
    RpcValue(B value)
        : m_data(value)
    {}
    template<std::integral I>
    requires(!std::same_as<I, bool>) RpcValue(I value)
        : m_data(qint64(value))
    {}
    RpcValue(double value)
        : m_data(value)
    {}
    RpcValue(const QString &text)
        : m_data(text)
    {}
    RpcValue(QString &&text)
        : m_data(std::move(text))
    {}
    // Text built with QStringBuilder, as the project's `a + b` of strings yields.
    template<typename A, typename B>
    requires std::convertible_to<QStringBuilder<A, B>, QString>
    RpcValue(const QStringBuilder<A, B> &text)
        : m_data(QString(text))
    {}
    // UTF-8 text.
    RpcValue(const char *text)
        : m_data(QString::fromUtf8(text))
    {}
    // A date; an invalid QDateTime or QDate gives null.
    RpcValue(const QDateTime &dateTime);
    RpcValue(const QDate &date);
    RpcValue(const QList<RpcValue> &array)
        : m_data(array)
    {}
    RpcValue(QList<RpcValue> &&array)
        : m_data(std::move(array))
    {}

    // Throws RpcError(BadValue) when days is not a finite number.
    static RpcValue fromAutomationDate(double days);
    static RpcValue fromPacket(const QByteArray &packet);

    Kind kind() const { return Kind(m_data.index()); }
    bool isNull() const { return kind() == Kind::Null; }
    bool isText() const { return kind() == Kind::Text; }
    bool isNumber() const { return kind() == Kind::Double || kind() == Kind::Integer; }
    bool isDate() const { return kind() == Kind::Date; }
    bool isPacket() const { return kind() == Kind::Packet; }
    bool isArray() const { return kind() == Kind::Array; }

    bool toBool() const;
    qint64 toInteger() const;
    double toDouble() const;
    QString toText() const;
    double toAutomationDate() const;
    // Throws RpcError(BadValue) also for a date outside the years 100 to 9999.
    QDateTime toDateTime() const;
    QDate toDate() const { return toDateTime().date(); }
    QByteArray toPacket() const;
    const QList<RpcValue> &toArray() const;
    // Element of an array; throws RpcError(BadValue) for another kind or an index out of range.
    const RpcValue &at(qsizetype index) const;
    qsizetype size() const { return toArray().size(); }

    // Calls `visit` with the bytes of every packet the value holds, in arrays too, which it may
    // replace: for decoders that hand over packets they first read in place.
    void visitPackets(const std::function<void(QByteArray &)> &visit);

    // The value in CBOR diagnostic notation, shortened, for logs and test failures.
    QString toDiagnostic() const;
    static QString kindName(Kind kind);

    friend bool operator==(const RpcValue &a, const RpcValue &b) { return a.m_data == b.m_data; }

private:
    struct Date
    {
        double days = 0;
        friend bool operator==(const Date &, const Date &) = default;
    };
    struct Packet
    {
        QByteArray bytes;
        friend bool operator==(const Packet &, const Packet &) = default;
    };
    [[noreturn]] void wrongKind(Kind wanted) const;

    // Same order as Kind.
    std::variant<std::monostate, bool, qint64, double, QString, Date, Packet, QList<RpcValue>>
        m_data;
};

// The failure an answer reports, as the host's result check reads it: an array whose element
// `index` is "OK", or the plain text "OK", reports none (nullopt). Otherwise the element's text,
// or, for an answer of another shape or an empty text, a text saying so.
std::optional<QString> answerFailure(const RpcValue &answer, int index = 0);

} // namespace fis
