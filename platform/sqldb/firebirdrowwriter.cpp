#include "firebirdrowwriter.h"

#include "firebirdattachment.h"
#include "firebirdstatement.h"

#include <algorithm>

namespace fis::firebird {

namespace {

// Firebird 3.0.11 takes input messages well past 64 KB (a 320 KB one was tried); this keeps a
// block's buffers on both sides moderate while long texts still go some 60 rows at a time.
constexpr qsizetype kMessageBudget = 1024 * 1024;
// Below the 64 KB of a statement text, with room to spare.
constexpr qsizetype kTextBudget = 60000;
// Each INSERT is a context of the block, and a statement has at most 256.
constexpr int kMaxRowsPerBlock = 250;
// The longest UTF-8 VARCHAR Firebird declares, in characters.
constexpr int kMaxUtf8Characters = kMaxVaryingBytes / 4;
// A value not declared as text may still arrive as one ("2024-01-31 10:00:00").
constexpr int kMinMessageBytes = 32;
// The declared text widths start here and double.
constexpr int kMinWidth = 8;
// Prepared blocks kept for reuse: the few shapes a table's rows take.
constexpr size_t kMaxBlocks = 8;

QByteArray declaredType(const XSQLVAR &var)
{
    const QByteArray scale = QByteArray::number(-var.sqlscale);
    switch (var.sqltype & ~1) {
    case SQL_SHORT:
        return var.sqlscale ? "NUMERIC(4, " + scale + ")" : QByteArray("SMALLINT");
    case SQL_LONG:
        return var.sqlscale ? "NUMERIC(9, " + scale + ")" : QByteArray("INTEGER");
    case SQL_INT64:
        return var.sqlscale ? "NUMERIC(18, " + scale + ")" : QByteArray("BIGINT");
    case SQL_FLOAT:
        return "FLOAT";
    case SQL_DOUBLE:
    case SQL_D_FLOAT:
        return "DOUBLE PRECISION";
    case SQL_TIMESTAMP:
        return "TIMESTAMP";
    case SQL_TYPE_DATE:
        return "DATE";
    case SQL_TYPE_TIME:
        return "TIME";
    case SQL_BOOLEAN:
        return "BOOLEAN";
    default:
        return {};
    }
}

int characters(QByteArrayView utf8, int bytesPerCharacter)
{
    if (bytesPerCharacter == 1)
        return int(utf8.size());
    int count = 0;
    for (const char c : utf8)
        count += (static_cast<unsigned char>(c) & 0xc0) != 0x80;
    return count;
}

int roundedWidth(int characters)
{
    int width = kMinWidth;
    while (width < characters)
        width *= 2;
    return width;
}

} // namespace

FirebirdRowWriter::FirebirdRowWriter(FirebirdAttachment &db, const QByteArray &table,
                                     const QList<QByteArray> &columns)
    : m_db(db)
    , m_table(table)
{
    describeColumns(columns);
    m_maxRows = rowsByText();
    m_widths.assign(m_columns.size(), 0);
}

FirebirdRowWriter::~FirebirdRowWriter() = default;

void FirebirdRowWriter::describeColumns(const QList<QByteArray> &columns)
{
    const QByteArray marks = QByteArray("?, ").repeated(columns.size() - 1) + "?";
    const QByteArray sql =
        "INSERT INTO " + m_table + " (" + columns.join(", ") + ") VALUES (" + marks + ")";
    const FirebirdStatement single(m_db, sql);
    const Sqlda &described = single.describedParameters();
    for (int i = 0; i < int(columns.size()); ++i) {
        const XSQLVAR &var = described[i];
        Column column;
        column.name = columns[i];
        const short type = short(var.sqltype & ~1);
        if (type == SQL_TEXT || type == SQL_VARYING || type == SQL_BLOB) {
            const bool octets = type != SQL_BLOB && (var.sqlsubtype & 0xff) == kCharsetOctets;
            column.text = true;
            column.charset = octets ? "OCTETS" : "UTF8";
            column.bytesPerCharacter = octets ? 1 : 4;
            column.maxCharacters = type == SQL_BLOB
                                       ? kMaxUtf8Characters
                                       : var.sqllen / bytesPerCharacter(short(var.sqlsubtype));
        } else {
            column.type = declaredType(var);
            column.messageBytes = std::max<int>(var.sqllen, kMinMessageBytes);
            if (column.type.isEmpty())
                throw DatabaseError(
                    QStringLiteral("A coluna %1 de %2 tem um tipo do Firebird "
                                   "(%3) em que não se gravam linhas em lote.")
                        .arg(QString::fromUtf8(column.name), QString::fromUtf8(m_table))
                        .arg(type));
        }
        m_columns.push_back(column);
    }
}

// The rows whose block text stays within the limit, whatever their widths.
int FirebirdRowWriter::rowsByText() const
{
    constexpr int kWidestIndex = 99999;
    qsizetype perRow = blockText(1, Widths(m_columns.size(), kWidestIndex)).size();
    for (int i = 0; i < int(m_columns.size()); ++i)
        perRow += 2 * QByteArray::number(kWidestIndex).size();
    return int(std::clamp<qsizetype>(kTextBudget / perRow, 1, kMaxRowsPerBlock));
}

void FirebirdRowWriter::addText(QByteArrayView utf8)
{
    Value value;
    value.kind = Value::Text;
    value.offset = m_texts.size();
    value.size = utf8.size();
    m_texts.append(utf8);
    m_values.push_back(value);
}

void FirebirdRowWriter::addInteger(qint64 integer)
{
    Value value;
    value.kind = Value::Integer;
    value.integer = integer;
    m_values.push_back(value);
}

void FirebirdRowWriter::addNull()
{
    m_values.push_back(Value());
}

FirebirdRowWriter::Widths FirebirdRowWriter::rowWidths(size_t firstValue) const
{
    Widths widths(m_columns.size(), 0);
    for (size_t c = 0; c < m_columns.size(); ++c) {
        const Column &column = m_columns[c];
        const Value &value = m_values[firstValue + c];
        if (!column.text)
            continue;
        int width = 1;
        if (value.kind == Value::Text)
            width = characters(QByteArrayView(m_texts).sliced(value.offset, value.size),
                               column.bytesPerCharacter);
        else if (value.kind == Value::Integer)
            width = int(QByteArray::number(value.integer).size());
        widths[c] = std::min(roundedWidth(width), column.maxCharacters);
    }
    return widths;
}

qsizetype FirebirdRowWriter::rowBytes(const Widths &widths) const
{
    qsizetype bytes = 0;
    for (size_t c = 0; c < m_columns.size(); ++c) {
        const Column &column = m_columns[c];
        const qsizetype value =
            column.text ? qsizetype(widths[c]) * column.bytesPerCharacter + 2 : column.messageBytes;
        bytes += value + 2 + 8; // the null flag, and alignment at worst
    }
    return bytes;
}

bool FirebirdRowWriter::fits(int rows, const Widths &widths) const
{
    return rows <= m_maxRows && rows * rowBytes(widths) <= kMessageBudget;
}

void FirebirdRowWriter::endRow()
{
    const size_t columns = m_columns.size();
    if (m_values.size() != size_t(m_rows + 1) * columns) {
        const size_t given = m_values.size() - size_t(m_rows) * columns;
        m_values.resize(size_t(m_rows) * columns);
        throw DatabaseError(QStringLiteral("Uma linha para %1 tem %2 valores para %3 colunas.")
                                .arg(QString::fromUtf8(m_table))
                                .arg(given)
                                .arg(columns));
    }
    const Widths row = rowWidths(size_t(m_rows) * columns);
    Widths merged = m_widths;
    for (size_t c = 0; c < columns; ++c)
        merged[c] = std::max(merged[c], row[c]);
    if (m_rows > 0 && !fits(m_rows + 1, merged)) {
        flush(m_rows);
        merged = row;
    }
    m_widths = merged;
    ++m_rows;
    if (m_rows >= m_maxRows)
        flush(m_rows);
}

void FirebirdRowWriter::finish()
{
    if (m_values.size() != size_t(m_rows) * m_columns.size())
        throw DatabaseError(QStringLiteral("A última linha para %1 não foi terminada.")
                                .arg(QString::fromUtf8(m_table)));
    flush(m_rows);
}

QByteArray FirebirdRowWriter::declaration(int parameter, const Column &column, int width) const
{
    QByteArray text = 'P' + QByteArray::number(parameter) + ' ';
    if (column.text)
        text += "VARCHAR(" + QByteArray::number(std::max(width, 1)) + ") CHARACTER SET " +
                column.charset;
    else
        text += column.type;
    return text + " = ?";
}

QByteArray FirebirdRowWriter::blockText(int rows, const Widths &widths) const
{
    const int columns = int(m_columns.size());
    QByteArray names;
    for (const Column &column : m_columns)
        names += (names.isEmpty() ? "" : ", ") + column.name;
    QByteArray declarations;
    QByteArray inserts;
    for (int r = 0; r < rows; ++r) {
        QByteArray values;
        for (int c = 0; c < columns; ++c) {
            const int parameter = r * columns + c;
            declarations += (parameter ? ",\n" : "") +
                            declaration(parameter, m_columns[size_t(c)], widths[size_t(c)]);
            values += (c ? ", :P" : ":P") + QByteArray::number(parameter);
        }
        inserts += "INSERT INTO " + m_table + " (" + names + ") VALUES (" + values + ");\n";
    }
    return "EXECUTE BLOCK (\n" + declarations + ")\nAS BEGIN\n" + inserts + "END";
}

FirebirdStatement &FirebirdRowWriter::blockFor(int rows, const Widths &widths)
{
    auto key = std::make_pair(rows, widths);
    auto found = m_blocks.find(key);
    if (found != m_blocks.end())
        return *found->second;
    if (m_blocks.size() >= kMaxBlocks)
        m_blocks.clear();
    auto block = std::make_unique<FirebirdStatement>(m_db, blockText(rows, widths));
    return *m_blocks.emplace(std::move(key), std::move(block)).first->second;
}

void FirebirdRowWriter::flush(int rows)
{
    if (rows == 0)
        return;
    const size_t values = size_t(rows) * m_columns.size();
    try {
        FirebirdStatement &block = blockFor(rows, m_widths);
        for (size_t i = 0; i < values; ++i) {
            const Value &value = m_values[i];
            const int index = int(i) + 1;
            if (value.kind == Value::Text)
                block.bindUtf8NoCopy(index,
                                     QByteArrayView(m_texts).sliced(value.offset, value.size));
            else if (value.kind == Value::Integer)
                block.bind(index, value.integer);
            else
                block.bindNull(index);
        }
        block.execute();
    } catch (...) {
        m_values.clear();
        m_texts.clear();
        m_rows = 0;
        m_widths.assign(m_columns.size(), 0);
        throw;
    }
    keepAfter(values);
    m_rows -= rows;
}

// Drops the values written, keeping those after them (at most one row) for the next block.
void FirebirdRowWriter::keepAfter(size_t values)
{
    if (values == m_values.size()) {
        // The usual case: everything went; the buffers keep their room for the next rows.
        m_values.clear();
        m_texts.resize(0);
        m_widths.assign(m_columns.size(), 0);
        return;
    }
    std::vector<Value> rest(m_values.begin() + qsizetype(values), m_values.end());
    QByteArray texts;
    for (Value &value : rest) {
        if (value.kind != Value::Text)
            continue;
        const qsizetype offset = texts.size();
        texts.append(QByteArrayView(m_texts).sliced(value.offset, value.size));
        value.offset = offset;
    }
    m_values = std::move(rest);
    m_texts = std::move(texts);
    m_widths = m_values.empty() ? Widths(m_columns.size(), 0) : rowWidths(0);
}

} // namespace fis::firebird
