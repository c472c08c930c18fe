#pragma once

// The values a Firebird statement sends and reads, kept apart from the statement's life.

#include "firebirdclient.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

#include <vector>

namespace fis::firebird {

// The values bound to a statement's numbered parameters, and the input descriptor area made
// from them for the positional ones. Every position is sent nullable, whatever Firebird
// described: its own null flag carries NULL, so that a null is never sent as '' or 0. Texts go
// as VARCHAR and integers as BIGINT; Firebird converts them to the parameter's type.
class Parameters
{
public:
    // `numbers`: the parameter number of each position; `described`: what Firebird described
    // for each position.
    Parameters(const QList<int> &numbers, int highestNumber, const Sqlda &described);

    void bindText(int number, QByteArrayView utf8, bool copy);
    void bindInteger(int number, qint64 value);
    void bindNull(int number);
    // Every parameter back to NULL, as an unbound one is.
    void clear();

    // The descriptor area for one execution; valid until the next call or binding. Null for a
    // statement without parameters.
    XSQLDA *fill();

private:
    struct Value
    {
        enum Kind { Null, Text, Integer } kind = Null;
        QByteArray copy;
        QByteArrayView text;
        qint64 integer = 0;
    };
    Value &at(int number);
    size_t typeValue(int position, const Value &value, size_t offset);

    QList<int> m_numbers;
    std::vector<Value> m_values;
    std::vector<XSQLVAR> m_described;
    Sqlda m_area;
    std::vector<double> m_data; // doubles: aligned for BIGINT values
    std::vector<short> m_nulls;
    std::vector<size_t> m_starts;
};

// The columns of a fetched row, read from the output descriptor area. Texts are read as
// Firebird sends them (CHAR padded to its length), numbers in plain decimal form, dates as
// 'YYYY-MM-DD', timestamps as 'YYYY-MM-DD HH:MM:SS' with a fraction only when there is one.
class ResultRow
{
public:
    // Gives every column of `area` a buffer and a null indicator.
    void allocate(Sqlda &area);
    // The row changed: texts made from the last one are gone.
    void invalidate();
    int count() const { return int(m_columns.size()); }

    bool isNull(int column) const;
    QByteArrayView utf8(int column) const;
    qint64 integer(int column) const;
    double real(int column) const;

private:
    struct Column
    {
        const XSQLVAR *var = nullptr;
        short indicator = 0;
    };
    const XSQLVAR &var(int column) const;
    QByteArrayView formatted(int column, const XSQLVAR &var) const;
    QByteArray format(const XSQLVAR &var) const;

    std::vector<Column> m_columns;
    std::vector<double> m_data;
    mutable std::vector<QByteArray> m_texts;
    mutable std::vector<bool> m_haveText;
};

} // namespace fis::firebird
