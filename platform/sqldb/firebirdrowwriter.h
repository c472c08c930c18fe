#pragma once

#include "sqldb/sqldatabase.h"

#include <QByteArray>
#include <QList>

#include <map>
#include <memory>
#include <utility>
#include <vector>

namespace fis::firebird {

class FirebirdAttachment;
class FirebirdStatement;

// Rows written in bulk into one table. Firebird 3 has no batch interface, and one INSERT per
// row costs a round trip each, so the rows go many at a time into an EXECUTE BLOCK whose
// parameters hold them all, one INSERT per row inside.
//
// Firebird 3 limits a statement's text to 64 KB and its contexts (one per INSERT) to 256, and
// sizes the parameter message by the declared types, not by the values. So a text column's
// parameter is declared only as long as the longest value of the rows at hand (rounded up to a
// power of two, so that the same few blocks are prepared once and reused), and as many rows go
// into one block as the limits and a budget for the message let. The columns' types are
// described from a prepared single-row INSERT, which also checks the table and column names at
// once.
class FirebirdRowWriter final : public SqlRowWriter
{
public:
    FirebirdRowWriter(FirebirdAttachment &db, const QByteArray &table,
                      const QList<QByteArray> &columns);
    ~FirebirdRowWriter() override;

    void addText(QByteArrayView utf8) override;
    void addInteger(qint64 value) override;
    void addNull() override;
    void endRow() override;
    void finish() override;

private:
    struct Column
    {
        QByteArray name;
        QByteArray type; // the declared type of a column not written as text
        bool text = false;
        QByteArray charset;
        int bytesPerCharacter = 1;
        int maxCharacters = 0;
        int messageBytes = 0; // of a column not written as text
    };
    struct Value
    {
        enum Kind { Null, Text, Integer } kind = Null;
        qint64 integer = 0;
        qsizetype offset = 0;
        qsizetype size = 0;
    };
    using Widths = std::vector<int>;

    void describeColumns(const QList<QByteArray> &columns);
    int rowsByText() const;
    Widths rowWidths(size_t firstValue) const;
    qsizetype rowBytes(const Widths &widths) const;
    bool fits(int rows, const Widths &widths) const;
    QByteArray declaration(int parameter, const Column &column, int width) const;
    QByteArray blockText(int rows, const Widths &widths) const;
    FirebirdStatement &blockFor(int rows, const Widths &widths);
    void flush(int rows);
    void keepAfter(size_t values);

    FirebirdAttachment &m_db;
    QByteArray m_table;
    std::vector<Column> m_columns;
    int m_maxRows = 1;
    QByteArray m_texts; // the pending values' texts, back to back
    std::vector<Value> m_values;
    int m_rows = 0; // complete rows among the pending values
    Widths m_widths;
    std::map<std::pair<int, Widths>, std::unique_ptr<FirebirdStatement>> m_blocks;
};

} // namespace fis::firebird
