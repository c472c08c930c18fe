#pragma once

#include <QByteArray>
#include <QList>
#include <QStringView>

namespace fis {

// How many records of each totalled type a file holds. Records 10 and 11 are always one each.
struct RecordCounts
{
    qint64 record50 = 0;
    qint64 record54 = 0;
    qint64 record75 = 0;
};

// One pair of a record 90: a record type and its number of records. Type 99 counts every line of
// the file.
struct TypeTotal
{
    int type = 0;
    qint64 count = 0;

    friend bool operator==(const TypeTotal &, const TypeTotal &) = default;
};

inline constexpr int kPairsPerRecord90 = 9;

// The records 90 needed for pairCount pairs.
int record90Count(qsizetype pairCount);

// Every line of a file with these counts: records 10 and 11, the counted records and the records
// 90 that total them. The number of records 90 depends only on how many types are present, so the
// total needs no second pass.
qint64 fileLineCount(const RecordCounts &counts);

// The pairs of a file's records 90: 50, 54 and 75 when present, in that order, then 99 with
// fileLineCount(counts).
QList<TypeTotal> totalPairs(const RecordCounts &counts);

// The records 90 for the given pairs, nine per record, each repeating the CNPJ and the state
// registration and ending with the number of records 90. Throws LayoutError when a CNPJ,
// registration, type or count does not fit its field, or when the pairs need more than nine
// records 90 (position 126 holds one digit).
QList<QByteArray> records90(QStringView cnpj, QStringView stateRegistration,
                            const QList<TypeTotal> &pairs);

// The records 90 of a file with these counts; throws as above.
QList<QByteArray> records90(QStringView cnpj, QStringView stateRegistration,
                            const RecordCounts &counts);

} // namespace fis
