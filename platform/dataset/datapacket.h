#pragma once

#include "dataset/memtable.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QVariant>

#include <memory>
#include <vector>

// Data packets: a whole table (field declarations, then rows) as one CBOR value. The format is
// described in docs/datapacket.md. Every function here throws DataSetError on failure.

namespace fis {

// One row: a value per field, in field order (QString, double, QDateTime, or null).
using DataRow = QList<QVariant>;

struct DataPacket
{
    QList<FieldDef> fields;
    std::vector<DataRow> rows;
};

// Limits that a packet must respect; larger declarations are refused before any allocation.
inline constexpr int kMaxPacketFields = 1024;
inline constexpr int kMaxFieldNameLength = 128;
inline constexpr int kMaxFieldTextSize = 1 << 20;     // characters of a text field
inline constexpr int kMaxFieldAttributeLength = 1024; // label and display format

// Decodes a packet on its own: its fields as declared there, its rows in that order.
DataPacket decodePacket(const QByteArray &packet);

// Decodes the rows of a packet into the given field declarations, matched by name (letter case
// ignored): each row holds its values in the order of `fields`. A declared field the packet
// lacks, a packet field not declared, a type that does not match, or a value the declared field
// cannot hold is an error. `tableName` only names the table in error messages.
std::vector<DataRow> decodePacketRows(const QByteArray &packet, const QList<FieldDef> &fields,
                                      const QString &tableName = {});

// A row as a table keeps it: its cells as the CBOR items a packet carries them in, in the order
// of the table's fields. A row of QVariant takes several times the bytes of its packet row;
// this takes about the same. Only the functions below make and read packed rows.
using PackedRow = QByteArray;

struct PackedPacket
{
    QList<FieldDef> fields;
    std::vector<PackedRow> rows;
};

// As decodePacket() and decodePacketRows(), with every check they make, the rows kept packed.
// Rows whose cells the packet holds in the fields' order, as writers write them, view the
// packet's own bytes (QByteArray::fromRawData): the caller keeps `packet`, which must own its
// bytes, for as long as it keeps the rows.
PackedPacket decodePacketPacked(const QByteArray &packet, const QString &tableName = {});
std::vector<PackedRow> decodePackedRows(const QByteArray &packet, const QList<FieldDef> &fields,
                                        const QString &tableName = {});

// The value of one cell of a packed row of `fields`, as decodePacketRows() would give it.
QVariant packedCell(const PackedRow &row, const QList<FieldDef> &fields, int field);
// The UTF-8 bytes of a text cell, without making a QString: a view into the row, or into
// `scratch` for a text the packet sent in pieces; a null view for a null cell.
QByteArrayView packedText(const PackedRow &row, const QList<FieldDef> &fields, int field,
                          QByteArray *scratch);
DataRow unpackRow(const PackedRow &row, const QList<FieldDef> &fields);
// The first of rows [from, to) whose text cell `field` begins with `prefix` (as packedText()
// reads it), -1 when none does.
int findPackedTextPrefix(const std::vector<PackedRow> &rows, const QList<FieldDef> &fields,
                         int field, QByteArrayView prefix, int from, int to);
// A packed row with the `changed` cells replaced by `values`' (in their stored form).
PackedRow packEditedRow(const PackedRow &original, const DataRow &values,
                        const std::vector<bool> &changed, const QList<FieldDef> &fields);
// Packs values already in their stored form (normalizedFieldValue()).
PackedRow packRow(const DataRow &row, const QList<FieldDef> &fields, const QString &tableName = {});

// Encodes fields and rows. Each row must have one value per field, of the field's type.
QByteArray encodePacket(const QList<FieldDef> &fields, const std::vector<DataRow> &rows);

// Checks a field declaration (name, size, limits); throws DataSetError naming the table.
void validateFieldDef(const FieldDef &field, const QString &tableName = {});

// The value a field of that declaration stores for `value`: null stays null (an invalid
// QVariant, or a null QString/QDate/QDateTime); texts take QString or QChar; floats take any
// finite number; date-times take QDateTime or QDate (midnight) in the years 100 to 9999, kept
// as wall-clock values. Any other type, or a text longer than the field's size, throws
// DataSetError naming the table and field.
QVariant normalizedFieldValue(const FieldDef &field, const QVariant &value,
                              const QString &tableName = {});

// The UTF-16 length of well-formed UTF-8 (no overlong forms, surrogates or values past
// U+10FFFF), a leading byte order mark included; -1 for anything else.
qsizetype utf16Length(QByteArrayView utf8);

// Builds a packet row by row without holding the rows, so that a server can stream a large
// answer straight into the packet bytes.
//
//     PacketWriter writer(fields);
//     for (...) { writer.addText(code); writer.addFloat(value); writer.addNull(); ... }
//     QByteArray packet = writer.finish();
//
// Cells are given in field order; a row ends after its last field's cell. Each add* checks the
// value against its field (type, text size) and throws DataSetError on a mismatch; after an
// error the writer is spoiled and finish() throws too.
class PacketWriter
{
public:
    // `rowCount`, when known, lets the rows array carry its length; -1 streams it open-ended.
    explicit PacketWriter(const QList<FieldDef> &fields, qsizetype rowCount = -1,
                          const QString &tableName = {});
    ~PacketWriter();
    PacketWriter(const PacketWriter &) = delete;
    PacketWriter &operator=(const PacketWriter &) = delete;

    void addNull();
    void addText(QStringView text);
    // The same from UTF-8 bytes; well-formed UTF-8 goes out without conversion. With
    // InvalidUtf8::Fail a malformed text is an error; with Replace the text is written as
    // QString::fromUtf8() reads it. A leading byte order mark is dropped, as both do.
    enum class InvalidUtf8 { Fail, Replace };
    void addUtf8Text(QByteArrayView utf8, InvalidUtf8 invalid = InvalidUtf8::Fail);
    void addFloat(double value);
    void addDateTime(const QDateTime &value); // an invalid value is written as null
    // As addDateTime(wallClockDateTime(date, time)) without making the QDateTime: an invalid
    // date is written as null, an invalid time as midnight.
    void addDate(const QDate &date, const QTime &time = QTime(0, 0));
    void addValue(const QVariant &value); // any value normalizedFieldValue() accepts
    void addRow(const DataRow &row);      // a whole row; the writer must be at a row start
    // A whole packed row of the writer's own fields, taken as it is: packed rows are checked.
    void addPackedRow(const PackedRow &row);

    // Room for a packet of about `bytes` in all, when the caller knows: a page of lines then
    // takes its memory once instead of growing into it.
    void reserve(qsizetype bytes);

    qsizetype rowsWritten() const;
    // Where the next cell goes in the packet finish() returns: a cell's bytes stay where they
    // were written.
    qsizetype bytesWritten() const;
    // Ends the packet and returns it. Throws when a row is incomplete or the declared row
    // count was not met.
    QByteArray finish();

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace fis
