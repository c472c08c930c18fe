#include "server/compralegalargs.h"

#include "contracts/compralegalcontract.h"
#include "dataset/datapacket.h"
#include "keylist/keylist.h"
#include "rpc/rpcerror.h"
#include "rpcserver/rpcargs.h"

#include <QSet>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <string_view>

namespace fis {

namespace {

// A text argument as a criterion: blanks around it do not count; empty means no restriction.
QString criterion(const RpcArgs &args, qsizetype index)
{
    const QString text = args.text(index).trimmed();
    return text.isEmpty() ? QString() : text;
}

// A date argument that may also come as null (no bound).
QDate optionalDate(const RpcArgs &args, qsizetype index)
{
    if (args.at(index).isNull())
        return {};
    return args.dateTime(index).date();
}

// A key list argument in the picker's format, blanks around the keys tolerated. An empty or blank
// text means no restriction.
std::optional<QStringList> keyFilter(const RpcArgs &args, qsizetype index)
{
    try {
        QStringList keys = parseKeyList(args.text(index), KeyListBlanks::Allowed);
        if (keys.isEmpty())
            return std::nullopt;
        return keys;
    } catch (const KeyListError &e) {
        throw RpcError(e.message());
    }
}

InvoiceStatus invoiceStatus(const RpcArgs &args, qsizetype index)
{
    const QString status = args.text(index).trimmed().toUpper();
    if (status == compralegal::kStatusPending)
        return InvoiceStatus::Pending;
    if (status == compralegal::kStatusExported)
        return InvoiceStatus::Exported;
    if (status == compralegal::kStatusBoth)
        return InvoiceStatus::Both;
    throw RpcError(QStringLiteral("Status inválido: \"%1\". Use N (pendente), S (exportado) "
                                  "ou T (ambos).")
                       .arg(args.text(index)));
}

// Blank as QString::trimmed() tells, without a QString for the usual ASCII key.
bool isBlank(QByteArrayView utf8)
{
    const bool ascii =
        std::all_of(utf8.begin(), utf8.end(), [](char c) { return uchar(c) < 0x80; });
    return ascii ? utf8.trimmed().isEmpty() : QString::fromUtf8(utf8).trimmed().isEmpty();
}

} // namespace

InvoiceCriteria readNotaFiscalArgs(const RpcArgs &args)
{
    args.expectCount(12);
    InvoiceCriteria c;
    c.company = criterion(args, 0);
    c.number = criterion(args, 1);
    c.client = criterion(args, 2);
    c.branch = criterion(args, 3);
    c.stateRegistration = criterion(args, 4);
    c.municipalRegistration = criterion(args, 5);
    c.series = keyFilter(args, 6);
    c.operations = keyFilter(args, 7);
    c.start = optionalDate(args, 8);
    c.end = optionalDate(args, 9);
    c.status = invoiceStatus(args, 10);
    if (!args.at(11).isNull()) {
        c.minimum = args.number(11);
        if (!std::isfinite(*c.minimum))
            throw RpcError(QStringLiteral("Valor mínimo inválido."));
    }
    return c;
}

namespace {

bool keyBefore(QByteArrayView a, QByteArrayView b)
{
    return std::string_view(a.data(), size_t(a.size())) <
           std::string_view(b.data(), size_t(b.size()));
}

// The first key, in the list's order, that comes again.
void throwIfKeyTwice(const std::vector<QByteArrayView> &keys)
{
    QSet<QByteArrayView> seen;
    seen.reserve(qsizetype(keys.size()));
    for (const QByteArrayView key : keys) {
        if (seen.contains(key))
            throw RpcError(
                QStringLiteral("A nota %1 foi marcada duas vezes.").arg(QString::fromUtf8(key)));
        seen.insert(key);
    }
}

// Sorted with the row each came in, through the row numbers alone (4 bytes a key while the
// call lasts): pairs of a view and its row took 24 bytes a key, 6 MB more at the call's peak
// for 250,000 keys. Keys given twice then sit side by side; which came again first is looked
// for in the rows' order.
void sortKeys(MarkedList &marked)
{
    std::vector<QByteArrayView> &keys = marked.keys;
    if (!std::is_sorted(keys.cbegin(), keys.cend(), keyBefore)) {
        std::vector<quint32> &rowOf = marked.rowOfKey;
        rowOf.resize(keys.size());
        std::iota(rowOf.begin(), rowOf.end(), quint32(0));
        std::sort(rowOf.begin(), rowOf.end(),
                  [&keys](quint32 a, quint32 b) { return keyBefore(keys[a], keys[b]); });
        // The views put in that order in place, cycle by cycle, so that no copy of them is made.
        std::vector<bool> placed(keys.size());
        for (size_t start = 0; start < keys.size(); ++start) {
            if (placed[start])
                continue;
            const QByteArrayView first = keys[start];
            size_t at = start;
            while (rowOf[at] != start) {
                keys[at] = keys[rowOf[at]];
                placed[at] = true;
                at = rowOf[at];
            }
            keys[at] = first;
            placed[at] = true;
        }
    }
    if (std::adjacent_find(marked.keys.cbegin(), marked.keys.cend()) != marked.keys.cend())
        throwIfKeyTwice(marked.keysAsSent());
}

} // namespace

MarkedList readNotasMarcadasArgs(const RpcArgs &args)
{
    args.expectCount(1);
    MarkedList marked;
    marked.packet = args.packet(0);
    const QList<FieldDef> fields = compralegal::listaFields();
    std::vector<PackedRow> rows;
    try {
        rows = decodePackedRows(marked.packet, fields, QStringLiteral("cdsLista"));
    } catch (const DataSetError &e) {
        packetError(e);
    }
    if (rows.empty())
        throw RpcError(QStringLiteral("Nenhuma nota fiscal foi marcada."));

    QByteArray scratch;
    const QByteArray firstList = packedText(rows.front(), fields, 0, &scratch).toByteArray();
    marked.list = QString::fromUtf8(firstList).trimmed();
    if (marked.list.isEmpty())
        throw RpcError(QStringLiteral("Número da lista deve ser informado (NRLISTA vazio)."));
    const char *const packetFrom = marked.packet.constData();
    const char *const packetTo = packetFrom + marked.packet.size();
    marked.keys.reserve(rows.size());
    for (const PackedRow &row : rows) {
        // A key given twice before this row is the first fault in the rows' order.
        const QByteArrayView list = packedText(row, fields, 0, &scratch);
        if (list != firstList && QString::fromUtf8(list).trimmed() != marked.list) {
            throwIfKeyTwice(marked.keys);
            throw RpcError(QStringLiteral("As notas marcadas pertencem a listas diferentes "
                                          "(%1 e %2).")
                               .arg(marked.list, QString::fromUtf8(list)));
        }
        QByteArrayView key = packedText(row, fields, 1, &scratch);
        if (isBlank(key)) {
            throwIfKeyTwice(marked.keys);
            throw RpcError(QStringLiteral("Nota marcada sem CDLISTA."));
        }
        if (key.data() < packetFrom || key.data() >= packetTo) {
            marked.pieces.push_back(key.toByteArray());
            key = marked.pieces.back();
        }
        marked.keys.push_back(key);
    }
    rows = {}; // the keys view the packet, not the rows
    sortKeys(marked);
    return marked;
}

std::vector<QByteArrayView> MarkedList::keysAsSent() const
{
    if (rowOfKey.empty())
        return keys;
    std::vector<QByteArrayView> sent(keys.size());
    for (size_t i = 0; i < keys.size(); ++i)
        sent[rowOfKey[i]] = keys[i];
    return sent;
}

RegistroArgs readRegistroArgs(const RpcArgs &args)
{
    args.expectCount(12);
    RegistroArgs r;
    args.text(0); // the base name of the output file, left as it came
    r.company = args.text(1).trimmed();
    r.tax = args.text(2).trimmed();
    r.start = optionalDate(args, 3);
    r.end = optionalDate(args, 4);
    r.continuation = args.text(5).trimmed();
    r.first = args.number(7);
    r.last = args.number(8);
    r.registration = args.text(9).trimmed();
    args.text(10); // last-file flag: every file is complete in itself, nothing to close
    r.list = args.text(11).trimmed();
    if (!std::isfinite(r.first) || !std::isfinite(r.last))
        throw RpcError(QStringLiteral("Limites de página inválidos."));
    return r;
}

std::optional<QString> firstPageRefusal(const RegistroArgs &request)
{
    if (request.list.isEmpty())
        return QStringLiteral("Número da lista deve ser informado.");
    if (!request.start.isValid() || !request.end.isValid())
        return QStringLiteral("Período deve ser informado.");
    if (request.end < request.start)
        return QStringLiteral("Data inicial do período deve ser menor ou igual a data final do "
                              "período.");
    return std::nullopt;
}

PageRange pageRange(double first, double last, qint64 pageSize)
{
    // Lines are numbered from 1, so a page from 0 starts at line 1.
    PageRange range;
    range.from = std::max<qint64>(1, qint64(std::ceil(first)));
    range.to = qint64(std::floor(std::min(last, 9e15)));
    if (range.to >= range.from && range.to - range.from + 1 != pageSize) {
        range.to = range.from + pageSize - 1;
        range.adjusted = true;
    }
    return range;
}

void packetError(const DataSetError &e)
{
    throw RpcError(QStringLiteral("Pacote de dados inválido: %1").arg(e.message()));
}

} // namespace fis
