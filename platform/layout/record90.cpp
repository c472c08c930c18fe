#include "record90.h"

#include "fieldformat.h"
#include "layouterror.h"
#include "records.h"

#include <cstring>

namespace fis {

namespace {

constexpr int pairsStart = 30;  // 0-based: pairs begin at position 31
constexpr int pairWidth = 10;   // type 2 + count 8
constexpr int maxRecords90 = 9; // position 126 is a single digit

} // namespace

int record90Count(qsizetype pairCount)
{
    return int((pairCount + kPairsPerRecord90 - 1) / kPairsPerRecord90);
}

qint64 fileLineCount(const RecordCounts &counts)
{
    qsizetype pairs = 1; // 99
    for (qint64 count : {counts.record50, counts.record54, counts.record75})
        pairs += count > 0 ? 1 : 0;
    return 2 + counts.record50 + counts.record54 + counts.record75 + record90Count(pairs);
}

QList<TypeTotal> totalPairs(const RecordCounts &counts)
{
    QList<TypeTotal> pairs;
    if (counts.record50 > 0)
        pairs.append({50, counts.record50});
    if (counts.record54 > 0)
        pairs.append({54, counts.record54});
    if (counts.record75 > 0)
        pairs.append({75, counts.record75});
    pairs.append({99, fileLineCount(counts)});
    return pairs;
}

QList<QByteArray> records90(QStringView cnpj, QStringView stateRegistration,
                            const QList<TypeTotal> &pairs)
{
    const int recordCount = record90Count(pairs.size());
    if (recordCount > maxRecords90)
        throw LayoutError(QStringLiteral("Registro 90: %1 pares precisam de %2 registros 90, mais "
                                         "do que um dígito pode contar")
                              .arg(pairs.size())
                              .arg(recordCount));
    QList<QByteArray> records;
    records.reserve(recordCount);
    for (int r = 0; r < recordCount; ++r) {
        QByteArray line(kRecordLength, ' ');
        char *out = line.data();
        std::memcpy(out, "90", 2);
        writeDigits(out + 2, {"90", "CNPJ", 14}, cnpj);
        writeText(out + 16, {"90", "inscrição estadual", 14}, stateRegistration);
        const qsizetype first = qsizetype(r) * kPairsPerRecord90;
        const qsizetype last = std::min(first + kPairsPerRecord90, pairs.size());
        for (qsizetype i = first; i < last; ++i) {
            char *pair = out + pairsStart + (i - first) * pairWidth;
            writeNumber(pair, {"90", "tipo totalizado", 2}, pairs[i].type);
            writeNumber(pair + 2, {"90", "total de registros", 8}, pairs[i].count);
        }
        out[kRecordLength - 1] = char('0' + recordCount);
        records.append(line);
    }
    return records;
}

QList<QByteArray> records90(QStringView cnpj, QStringView stateRegistration,
                            const RecordCounts &counts)
{
    return records90(cnpj, stateRegistration, totalPairs(counts));
}

} // namespace fis
