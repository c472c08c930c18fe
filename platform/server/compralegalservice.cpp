#include "server/compralegalservice.h"

#include "base/automationdate.h"
#include "contracts/compralegalcontract.h"
#include "dataset/datapacket.h"
#include "keylist/keylist.h"
#include "layout/records.h"
#include "rpc/rpcerror.h"
#include "server/compralegalargs.h"
#include "server/compralegalstore.h"
#include "server/enginestores.h"
#include "server/exportlists.h"
#include "server/filegenerator.h"
#include "server/serverlog.h"
#include "sqldb/sqldatabase.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMap>
#include <QSet>

#include <algorithm>
#include <cmath>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace fis {

namespace {

// "12.345.678/0001-90 - NAME" within the grid column's 73 characters.
QString clientText(QStringView type, QStringView number, QStringView name)
{
    QString doc;
    if (type == u"J" && number.size() == 14)
        doc = number.left(2) + u'.' + number.mid(2, 3) + u'.' + number.mid(5, 3) + u'/' +
              number.mid(8, 4) + u'-' + number.mid(12, 2);
    else if (type == u"F" && number.size() == 11)
        doc = number.left(3) + u'.' + number.mid(3, 3) + u'.' + number.mid(6, 3) + u'-' +
              number.mid(9, 2);
    else
        doc = number.toString();
    QString text = doc.isEmpty() ? name.toString() : doc + QStringLiteral(" - ") + name;
    text.truncate(73);
    return text;
}

bool isAscii(QByteArrayView text)
{
    uchar any = 0;
    for (const char c : text)
        any |= uchar(c);
    return any < 0x80;
}

// The texts of the invoice list's cells, written from the database's bytes: well-formed UTF-8 as
// it is, anything else as QString::fromUtf8() reads it (invalid bytes replaced), as before.
class InvoiceListAnswer
{
public:
    // With `flagCells`, notes where each row's exported flag goes, while every row has a row id.
    explicit InvoiceListAnswer(bool flagCells)
        : m_writer(compralegal::notaFiscalFields(), -1, QStringLiteral("cdsNotaFiscal"))
        , m_noteCells(flagCells)
    {}

    void add(const InvoiceRow &row)
    {
        addText(row.direction);
        if (m_noteCells) {
            if (row.rowId) {
                m_flagCells.push_back({*row.rowId, m_writer.bytesWritten()});
            } else {
                m_noteCells = false;
                m_flagCells = {};
            }
        }
        m_writer.addUtf8Text(row.exported ? kExportedUtf8 : kNotExportedUtf8);
        m_writer.addUtf8Text(kUnmarkedUtf8);
        addText(row.branch);
        addClientOnce(row);
        addText(row.posting);
        m_writer.addDate(row.issuedDate, row.issuedTime);
        addText(row.number);
        m_writer.addFloat(row.value);
        for (const QByteArrayView *column :
             {&row.operation, &row.stateRegistration, &row.municipalRegistration, &row.series,
              &row.client}) {
            if (column->data())
                addText(*column);
            else
                m_writer.addNull();
        }
    }

    // Room for the whole answer at once: a large one grown by doubling held the old room and
    // the new one together at every step, the largest part of the server's peak while a list of
    // 250,000 invoices went out. Room left over is never touched, so takes no memory.
    void expect(qsizetype rows, qsizetype textBytes)
    {
        // The row's and its cells' heads (about 20 bytes), the value (9) and the date (11).
        constexpr qsizetype kPerRow = 48;
        constexpr qsizetype kFields = 4096; // the field definitions before the rows
        m_writer.reserve(kFields + textBytes + rows * kPerRow);
        if (m_noteCells)
            m_flagCells.reserve(size_t(rows));
    }

    QByteArray finish() { return m_writer.finish(); }
    std::vector<FlagCell> takeFlagCells() { return std::move(m_flagCells); }

private:
    void addText(QByteArrayView utf8)
    {
        m_writer.addUtf8Text(utf8, PacketWriter::InvalidUtf8::Replace);
    }

    // A client's text is made once per answer: a list names far fewer clients than invoices.
    // It is made again wherever the client's columns are not those it was made of.
    void addClientOnce(const InvoiceRow &row)
    {
        const std::string_view code(row.client.data(), size_t(row.client.size()));
        const auto found = m_clients.find(code);
        if (found != m_clients.end()) {
            const ClientMade &made = found->second;
            if (made.type == row.clientType && made.number == row.clientNumber &&
                made.name == row.clientName && made.type.isNull() == row.clientType.isNull() &&
                made.number.isNull() == row.clientNumber.isNull() &&
                made.name.isNull() == row.clientName.isNull()) {
                if (made.slowText.isNull())
                    m_writer.addUtf8Text(made.text, PacketWriter::InvalidUtf8::Replace);
                else
                    m_writer.addText(made.slowText);
                return;
            }
        }
        m_lastClient = {};
        addClient(row);
        m_clients.insert_or_assign(std::string(code),
                                   ClientMade{bytes(row.clientType), bytes(row.clientNumber),
                                              bytes(row.clientName), m_lastClient.text,
                                              m_lastClient.slowText});
    }

    // A null QByteArray for a null view, else the view's bytes (empty but not null for "").
    static QByteArray bytes(QByteArrayView view)
    {
        if (!view.data())
            return {};
        return view.isEmpty() ? QByteArray("") : view.toByteArray();
    }

    // clientText() without a QString, for a client whose type and number are ASCII and whose
    // name is well-formed UTF-8 of single UTF-16 units (the cut at 73 then falls between
    // characters, as it does in the QString) without the byte order mark that fromUtf8() drops.
    void addClient(const InvoiceRow &row)
    {
        const QByteArrayView type = row.clientType, number = row.clientNumber,
                             name = row.clientName;
        const qsizetype nameUnits = utf16Length(name);
        if (!isAscii(type) || !isAscii(number) || nameUnits < 0 || nameUnits != codePoints(name) ||
            name.startsWith("\xef\xbb\xbf")) {
            const QString text = clientText(QString::fromUtf8(type), QString::fromUtf8(number),
                                            QString::fromUtf8(name));
            m_lastClient.slowText = text;
            m_writer.addText(text);
            return;
        }
        char text[kClientChars * 3];
        qsizetype size = 0;
        qsizetype units = 0;
        // Every part but the name is ASCII, a byte a unit; the name is cut between characters.
        const auto put = [&](QByteArrayView part) {
            if (isAscii(part)) {
                const qsizetype n = std::min(part.size(), kClientChars - units);
                if (n > 0)
                    memcpy(text + size, part.data(), size_t(n));
                size += std::max<qsizetype>(n, 0);
                units += std::max<qsizetype>(n, 0);
                return;
            }
            for (qsizetype i = 0; i < part.size() && units < kClientChars; ++units) {
                const uchar lead = uchar(part[i]);
                const qsizetype n = lead < 0x80 ? 1 : lead < 0xe0 ? 2 : 3;
                memcpy(text + size, part.data() + i, size_t(n));
                size += n;
                i += n;
            }
        };
        // The number's groups, each after its separator.
        const auto groups = [&](std::initializer_list<std::pair<const char *, qsizetype>> parts) {
            qsizetype from = 0;
            for (const auto &[separator, count] : parts) {
                put(separator);
                put(number.sliced(from, count));
                from += count;
            }
        };
        const char kind = type.size() == 1 ? type.front() : 0;
        if (kind == 'J' && number.size() == 14)
            groups({{"", 2}, {".", 3}, {".", 3}, {"/", 4}, {"-", 2}});
        else if (kind == 'F' && number.size() == 11)
            groups({{"", 3}, {".", 3}, {".", 3}, {"-", 2}});
        else
            put(number);
        if (size > 0)
            put(" - ");
        put(name);
        m_lastClient.text = QByteArray(text, size);
        m_writer.addUtf8Text(m_lastClient.text, PacketWriter::InvalidUtf8::Replace);
    }

    // The characters of well-formed UTF-8: its bytes that begin one.
    static qsizetype codePoints(QByteArrayView utf8)
    {
        qsizetype count = 0;
        for (const char c : utf8)
            count += (uchar(c) & 0xc0) != 0x80;
        return count;
    }

    struct ClientMade
    {
        QByteArray type, number, name; // as bytes() keeps them
        QByteArray text;               // the cell's UTF-8, made from the bytes
        QString slowText;              // or the cell's text, made the QString way
    };

    static constexpr qsizetype kClientChars = 73;
    PacketWriter m_writer;
    bool m_noteCells;
    std::vector<FlagCell> m_flagCells;
    // By the client's code, looked up without making a copy of it.
    struct CodeHash
    {
        using is_transparent = void;
        size_t operator()(std::string_view code) const
        {
            return std::hash<std::string_view>{}(code);
        }
    };
    std::unordered_map<std::string, ClientMade, CodeHash, std::equal_to<>> m_clients;
    ClientMade m_lastClient; // the text addClient() made last
    static constexpr QByteArrayView kExportedUtf8{compralegal::kExported.data(),
                                                  compralegal::kExported.size()};
    static constexpr QByteArrayView kNotExportedUtf8{compralegal::kNotExported.data(),
                                                     compralegal::kNotExported.size()};
    static constexpr QByteArrayView kUnmarkedUtf8{compralegal::kUnmarked.data(),
                                                  compralegal::kUnmarked.size()};
};

QString fileNamePart(int index)
{
    return QStringLiteral("%1").arg(index, 4, 10, QLatin1Char('0'));
}

// The same for an unknown list and for another session's: nobody learns of others' lists.
QString listNotFound(const QString &list)
{
    return QStringLiteral("Lista %1 não encontrada.").arg(list);
}

bool isOpen(const std::optional<exportlists::OwnedList> &list)
{
    return list && list->state == QLatin1String(exportlists::kOpen);
}

} // namespace

CompraLegalService::CompraLegalService(std::unique_ptr<CompraLegalStore> store,
                                       const ServerConfig &config, QString serverId,
                                       std::function<void()> filesServed)
    : m_store(std::move(store))
    , m_config(config)
    , m_serverId(std::move(serverId))
    , m_filesServed(std::move(filesServed))
{}

CompraLegalService::CompraLegalService(SqlConnection &db, const ServerConfig &config,
                                       QString serverId, std::function<void()> filesServed)
    : CompraLegalService(makeCompraLegalStore(db), config, std::move(serverId),
                         std::move(filesServed))
{}

CompraLegalService::~CompraLegalService() = default;

void CompraLegalService::registerMethods(RpcMethodTable &table)
{
    const QString object = compralegal::serverObjectName();
    const auto add = [&](const char *name, RpcValue (CompraLegalService::*method)(RpcArgs &)) {
        table.registerMethod(object, QString::fromLatin1(name),
                             [this, method](RpcArgs &args) { return (this->*method)(args); });
    };
    add("GetNotaFiscal", &CompraLegalService::GetNotaFiscal);
    add("GetDiretorio", &CompraLegalService::GetDiretorio);
    add("GetLista", &CompraLegalService::GetLista);
    add("getNotasMarcadas", &CompraLegalService::getNotasMarcadas);
    add("GetRegistro", &CompraLegalService::GetRegistro);
    add("GetDeletaLista", &CompraLegalService::GetDeletaLista);
}

namespace {

// A list's answer kept for the next call is at most this large; a larger one is built again.
constexpr qsizetype kLargestKeptList = 64 * 1024 * 1024;

} // namespace

RpcValue CompraLegalService::GetNotaFiscal(RpcArgs &args)
{
    const InvoiceCriteria criteria = readNotaFiscalArgs(args);
    const std::unique_ptr<StoreTransaction> tx = m_store->begin(TransactionKind::Read);
    // Taken before the invoices are read, in the same snapshot: a change after it makes the
    // next stamp differ.
    const std::optional<InvoicesStamp> stamp = m_store->invoicesStamp();
    if (stamp && m_lastInvoiceList && m_lastInvoiceList->criteria.sameAs(criteria) &&
        (m_lastInvoiceList->stamp == *stamp || setFlagsOfLastInvoiceList(*stamp))) {
        tx->commit();
        return RpcValue::fromPacket(m_lastInvoiceList->packet);
    }
    // Its room goes before the new answer takes its own.
    m_lastInvoiceList.reset();
    m_store->followOwnFlagUpdates(false);
    try {
        InvoiceListAnswer answer(stamp && criteria.status == InvoiceStatus::Both);
        m_store->findInvoices(
            criteria, [&answer](const InvoiceRow &row) { answer.add(row); },
            [&answer](qsizetype rows, qsizetype bytes) { answer.expect(rows, bytes); });
        const QByteArray packet = answer.finish();
        tx->commit();
        if (stamp && packet.size() <= kLargestKeptList) {
            m_lastInvoiceList = LastInvoiceList{criteria, *stamp, packet, answer.takeFlagCells()};
            // From the stamp on: nothing has been written since it was taken.
            if (!m_lastInvoiceList->flagCells.empty())
                m_store->followOwnFlagUpdates(true);
        }
        return RpcValue::fromPacket(packet);
    } catch (const DataSetError &e) {
        throw RpcError(
            QStringLiteral("Nota fiscal com dado fora do tamanho da lista: %1").arg(e.message()));
    }
}

// The kept answer brought up to `now` by setting the flags this server's connection has set
// since its stamp; false where that is not all that changed, and the answer is then to be read
// anew (a flag cell found other than expected leaves it half set).
bool CompraLegalService::setFlagsOfLastInvoiceList(const InvoicesStamp &now)
{
    LastInvoiceList &kept = *m_lastInvoiceList;
    if (kept.flagCells.empty() || now.committedElsewhere != kept.stamp.committedElsewhere)
        return false;
    const std::optional<std::vector<FlagUpdate>> updates = m_store->ownFlagUpdatesSince(kept.stamp);
    if (!updates)
        return false;
    std::vector<FlagCell> &cells = kept.flagCells;
    if (!kept.cellsSorted) {
        std::sort(cells.begin(), cells.end(),
                  [](const FlagCell &a, const FlagCell &b) { return a.rowId < b.rowId; });
        kept.cellsSorted = true;
    }
    const char exported = compralegal::kExported.front().toLatin1();
    const char notExported = compralegal::kNotExported.front().toLatin1();
    constexpr char kOneByteText = char(0x61); // the flag's cell: a text of one byte
    char *bytes = kept.packet.data();
    for (const FlagUpdate &update : *updates) {
        const auto cell =
            std::lower_bound(cells.begin(), cells.end(), update.rowId,
                             [](const FlagCell &c, qint64 rowId) { return c.rowId < rowId; });
        if (cell == cells.end() || cell->rowId != update.rowId)
            continue; // an invoice this list does not show
        const qsizetype at = cell->at;
        if (at + 1 >= kept.packet.size() || bytes[at] != kOneByteText ||
            (bytes[at + 1] != exported && bytes[at + 1] != notExported))
            return false;
        bytes[at + 1] = update.exported ? exported : notExported;
    }
    kept.stamp = now;
    m_store->followOwnFlagUpdates(true); // what is set is no longer needed
    return true;
}

RpcValue CompraLegalService::GetDiretorio(RpcArgs &args)
{
    args.expectCount(0);
    const QString dir = m_config.outputDirectoryWithSlash();
    return QList<RpcValue>{QDir(dir).exists() ? QStringLiteral("OK") : QStringLiteral("Dir_Inv"),
                           dir};
}

QString CompraLegalService::nextNumber(const char *sequence)
{
    const std::optional<qint64> number = m_store->nextInSequence(QString::fromLatin1(sequence));
    if (!number)
        throw RpcError(QStringLiteral("Sequência %1 não cadastrada no banco de dados.")
                           .arg(QLatin1String(sequence)));
    if (*number > 9999999999LL)
        throw RpcError(QStringLiteral("Sequência %1 esgotada.").arg(QLatin1String(sequence)));
    return QStringLiteral("%1").arg(*number, 10, 10, QLatin1Char('0'));
}

RpcValue CompraLegalService::GetLista(RpcArgs &args)
{
    args.expectCount(0);
    const std::unique_ptr<StoreTransaction> tx = m_store->begin(TransactionKind::Write);
    // A session runs one export at a time, so a new list ends its earlier runs: what they
    // delivered becomes final, what they left open is undone.
    const exportlists::Outcome earlier = m_store->closeSession(args.session());
    const QString list = nextNumber("NRLISTA");
    m_store->addList(list, args.session(), m_serverId);
    tx->commit();
    for (const QString &line : exportlists::describe(earlier, QStringLiteral("its session began "
                                                                             "another export")))
        logServerLine(line);
    if (!earlier.finalized.isEmpty() && m_filesServed)
        m_filesServed();
    return list;
}

// The list's rows go in the keys' order, so that every one lands at the end of the list's
// indexes and the file's build, which reads them in that order, finds its invoices side by
// side; the screen sends them by date, the branches mixed. A list refused that way is put on
// again in the order it came, which names the fault the client would meet first.
RpcValue CompraLegalService::getNotasMarcadas(RpcArgs &args)
{
    const MarkedList marked = readNotasMarcadasArgs(args);
    if (marked.rowOfKey.empty())
        return *registerList(marked, marked.keys, args.session(), false);
    if (std::optional<RpcValue> answer = registerList(marked, marked.keys, args.session(), true))
        return *answer;
    return *registerList(marked, marked.keysAsSent(), args.session(), false);
}

// Puts the keys on the list in their order and adds its files; unset, with nothing written,
// when `mayRetry` and a key is refused.
std::optional<RpcValue> CompraLegalService::registerList(const MarkedList &marked,
                                                         const std::vector<QByteArrayView> &keys,
                                                         const QString &session, bool mayRetry)
{
    const std::unique_ptr<StoreTransaction> tx = m_store->begin(TransactionKind::Write);
    checkListTakesInvoices(marked.list, session);
    ListedInvoices listed;
    try {
        listed = putOnList(marked, keys);
    } catch (const RpcError &) {
        if (mayRetry)
            return std::nullopt;
        throw;
    }
    const QByteArray answer = addFiles(marked.list, listed);
    m_store->touchList(marked.list, m_serverId);
    tx->commit();
    return RpcValue::fromPacket(answer);
}

// The session's open list, still without invoices.
void CompraLegalService::checkListTakesInvoices(const QString &list, const QString &session)
{
    const std::optional<exportlists::OwnedList> owned = m_store->ownedList(list, session);
    if (!owned)
        throw RpcError(listNotFound(list));
    if (owned->state != QLatin1String(exportlists::kOpen) || m_store->listHasFiles(list))
        throw RpcError(QStringLiteral("A lista %1 já recebeu suas notas.").arg(list));
}

// Every key must name one invoice, and all of them invoices of one company.
CompraLegalService::ListedInvoices
CompraLegalService::putOnList(const MarkedList &marked, const std::vector<QByteArrayView> &keys)
{
    ListedInvoices listed;
    QString countedReg;
    qint64 *counted = nullptr;
    try {
        const std::unique_ptr<ListFiller> filler = m_store->fillList(marked.list);
        filler->lookUpAll(keys);
        for (const QByteArrayView key : keys) {
            const FoundInvoices found = filler->find(key);
            if (found.count == 0)
                throw RpcError(
                    QStringLiteral("Nota fiscal %1 não encontrada.").arg(QString::fromUtf8(key)));
            if (found.count > 1)
                throw RpcError(
                    QStringLiteral("A chave %1 corresponde a notas de mais de uma filial.")
                        .arg(QString::fromUtf8(key)));
            if (listed.company.isNull())
                listed.company = found.company;
            else if (found.company != listed.company)
                throw RpcError(
                    QStringLiteral("A nota %1 é da empresa %2; as demais são da empresa %3.")
                        .arg(QString::fromUtf8(key), found.company, listed.company));
            filler->addFound();
            if (!counted || countedReg != found.registration) {
                countedReg = found.registration;
                counted = &listed.registrations[countedReg];
            }
            ++*counted;
        }
        filler->finish();
    } catch (const InvoiceTakenError &e) {
        throw RpcError(
            QStringLiteral("A nota fiscal %1 (filial %2, lançamento %3) já está em outra "
                           "exportação em andamento; exporte-a quando aquela terminar.")
                .arg(e.number(), e.branch(), e.posting()));
    }
    return listed;
}

// A file for each registration, in their order, named 0001, 0002, ...: the answer lists them.
QByteArray CompraLegalService::addFiles(const QString &list, const ListedInvoices &listed)
{
    PacketWriter writer(compralegal::arquivosFields(), listed.registrations.size(),
                        QStringLiteral("cdsArquivos"));
    int index = 0;
    for (auto it = listed.registrations.cbegin(); it != listed.registrations.cend(); ++it) {
        const QString namePart = fileNamePart(++index);
        const QString state = m_store->stateOfRegistration(listed.company, it.key());
        m_store->addFile(NewListFile{nextNumber("NRSEQARQMAG"), list, listed.company, it.key(),
                                     state, namePart});
        try {
            writer.addText(it.key());
            writer.addText(namePart);
        } catch (const DataSetError &e) {
            packetError(e);
        }
    }
    return writer.finish();
}

RpcValue CompraLegalService::registroAnswer(const QString &status, const QByteArray &lines,
                                            bool more, const QString &continuation) const
{
    return QList<RpcValue>{status, RpcValue::fromPacket(lines), m_config.outputDirectoryWithSlash(),
                           QString(more ? compralegal::kAnotherPage : compralegal::kLastPage),
                           continuation};
}

RpcValue CompraLegalService::registroRefusal(const QString &text) const
{
    return registroAnswer(text, PacketWriter(compralegal::registrosFields(), 0).finish(), false,
                          {});
}

RpcValue CompraLegalService::GetRegistro(RpcArgs &args)
{
    const RegistroArgs request = readRegistroArgs(args);
    ListFile file;
    if (request.continuation.isEmpty()) {
        // A file's first page: check what the user can put right, then build every line.
        std::optional<QString> refusal = firstPageRefusal(request);
        if (!refusal)
            refusal = checkFileToBuild(request, args.session(), file);
        if (!refusal)
            refusal = buildFile(request, args.session(), file);
        if (refusal)
            return registroRefusal(*refusal);
        args.set(5, file.fileNumber);
    } else {
        file = continuedFile(request, args.session());
    }

    // The page's last line, given back, tells the client where to go on from.
    const PageRange range = pageRange(request.first, request.last, m_config.pageSize);
    if (range.adjusted)
        args.set(8, double(range.to));
    const QByteArray page = readPage(file, range);
    const bool more = range.to < file.lineCount;
    recordPageServed(file, more, args.session());
    if (!more && m_filesServed)
        m_filesServed();
    return registroAnswer(QStringLiteral("OK"), page, more, file.fileNumber);
}

// The list and its file of the registration, and the tax; the refusal when the user must put
// something right first. Whatever the answer, the list's other files served so far have been
// delivered: a client asks for a file only once the one before is written.
std::optional<QString> CompraLegalService::checkFileToBuild(const RegistroArgs &request,
                                                            const QString &session, ListFile &file)
{
    const std::unique_ptr<StoreTransaction> tx = m_store->begin(TransactionKind::Write);
    const std::optional<exportlists::OwnedList> owned = m_store->ownedList(request.list, session);
    if (!owned)
        return listNotFound(request.list);
    if (owned->state != QLatin1String(exportlists::kOpen))
        return QStringLiteral("Todos os arquivos da lista %1 já foram entregues.")
            .arg(request.list);
    const std::optional<ListFile> found =
        m_store->fileOfRegistration(request.list, request.registration);
    if (!found)
        return QStringLiteral("A inscrição estadual %1 não tem arquivo na lista %2.")
            .arg(request.registration, request.list);
    file = *found;
    m_store->markOtherFilesDelivered(request.list, file.fileNumber);

    std::optional<QString> refusal;
    if (file.served == QLatin1String(exportlists::kFileDelivered))
        refusal = QStringLiteral("O arquivo %1 da lista %2 já foi entregue.")
                      .arg(file.namePart, request.list);
    else if (!m_store->taxExists(request.tax))
        refusal = QStringLiteral("Imposto %1 não cadastrado.").arg(request.tax);
    else if (file.company != request.company)
        refusal = QStringLiteral("A lista %1 é da empresa %2, não da empresa %3.")
                      .arg(request.list, file.company, request.company);
    tx->commit();
    return refusal;
}

// Builds every line of the file, in a transaction of its own; the refusal for faults in the data.
std::optional<QString> CompraLegalService::buildFile(const RegistroArgs &request,
                                                     const QString &session, ListFile &file)
{
    const std::unique_ptr<StoreTransaction> tx = m_store->begin(TransactionKind::Write);
    // Undone meanwhile (by the lease, or by the session from another connection)?
    if (!isOpen(m_store->ownedList(request.list, session)))
        return listNotFound(request.list);
    try {
        file.lineCount = m_store->buildFile(ExportFile{file.fileNumber, request.list, file.company,
                                                       file.stateRegistration, file.namePart,
                                                       request.start, request.end});
    } catch (const ExportDataError &e) {
        return e.message();
    }
    m_store->touchList(request.list, m_serverId);
    tx->commit();
    file.served = QLatin1String(exportlists::kFileNotServed);
    return std::nullopt;
}

// A later page. The client does not read element 0 of these answers, so whatever goes wrong
// here must be a call error for its failure guard to run. A continuation of another session's
// list is as unknown as one that never was.
ListFile CompraLegalService::continuedFile(const RegistroArgs &request, const QString &session)
{
    const std::optional<ListFile> file = m_store->file(request.continuation);
    if (!file || file->owner != session || file->listNumber != request.list ||
        file->stateRegistration != request.registration)
        throw RpcError(QStringLiteral("Continuação %1 desconhecida: o arquivo não existe "
                                      "(a lista foi excluída?).")
                           .arg(request.continuation));
    if (file->lineCount < 0 || file->served != QLatin1String(exportlists::kFileNotServed) ||
        file->listState != QLatin1String(exportlists::kOpen))
        throw RpcError(QStringLiteral("O arquivo %1 já foi entregue por completo; comece "
                                      "de novo com a continuação vazia.")
                           .arg(file->namePart));
    return *file;
}

QByteArray CompraLegalService::readPage(const ListFile &file, const PageRange &range)
{
    const std::unique_ptr<StoreTransaction> tx = m_store->begin(TransactionKind::Read);
    PacketWriter writer(compralegal::registrosFields(), -1, QStringLiteral("cdsRegistros"));
    qint64 lines = 0;
    // The layout writes ASCII, whose bytes go into the packet as they are, with no text made of
    // them; a stored byte above it is read as Latin-1, as always.
    const QByteArray fileNumber = file.fileNumber.toUtf8();
    // A row: array head, number, two floats of up to 9 bytes, the line and its text head.
    const qint64 rows = std::max<qint64>(std::min(range.to, file.lineCount) - range.from + 1, 0);
    writer.reserve(512 + rows * (1 + 1 + fileNumber.size() + 9 + 3 + kRecordLength + 9));
    m_store->readLines(file.fileNumber, range.from, range.to,
                       [&](qint64 number, QByteArrayView text, qint64 sequence) {
                           writer.addUtf8Text(fileNumber);
                           writer.addFloat(double(number));
                           if (isAscii(text))
                               writer.addUtf8Text(text);
                           else
                               writer.addText(QString::fromLatin1(text));
                           writer.addFloat(double(sequence));
                           ++lines;
                       });
    // The store tells lines missing between those it found; missing at the end only the file's
    // length tells.
    const qint64 from = std::max<qint64>(range.from, 1);
    const qint64 expected = std::max<qint64>(std::min(range.to, file.lineCount) - from + 1, 0);
    if (lines != expected)
        throw DatabaseError(QStringLiteral("O banco de dados tem %1 das linhas %2 a %3 do "
                                           "arquivo %4, que tem %5 linhas.")
                                .arg(lines)
                                .arg(from)
                                .arg(from + expected - 1)
                                .arg(file.fileNumber)
                                .arg(file.lineCount));
    const QByteArray page = writer.finish();
    tx->commit();
    return page;
}

void CompraLegalService::recordPageServed(const ListFile &file, bool more, const QString &session)
{
    const std::unique_ptr<StoreTransaction> tx = m_store->begin(TransactionKind::Write);
    // The list may have been undone while the page was read: then this page must not count.
    if (!isOpen(m_store->ownedList(file.listNumber, session)))
        throw RpcError(listNotFound(file.listNumber));
    m_store->touchList(file.listNumber, m_serverId);
    // Served in full: the lines are deleted after this answer, by the janitor.
    if (!more)
        m_store->markFileServed(file.fileNumber, file.listNumber);
    tx->commit();
}

RpcValue CompraLegalService::GetDeletaLista(RpcArgs &args)
{
    args.expectCount(1);
    const QString list = args.text(0).trimmed();
    if (list.isEmpty())
        return QList<RpcValue>{QStringLiteral("Número da lista deve ser informado.")};

    const std::unique_ptr<StoreTransaction> tx = m_store->begin(TransactionKind::Write);
    const std::optional<exportlists::OwnedList> owned = m_store->ownedList(list, args.session());
    if (!owned)
        return QList<RpcValue>{listNotFound(list)};
    if (owned->state == QLatin1String(exportlists::kFinal))
        return QList<RpcValue>{QStringLiteral("A lista %1 já foi entregue e não pode mais ser "
                                              "excluída.")
                                   .arg(list)};
    // The invoices of every file not delivered - not served in full, or served last and not
    // yet known to be written - get back the flag they had before the list.
    m_store->revertList(list);
    tx->commit();
    return QList<RpcValue>{QStringLiteral("OK")};
}

} // namespace fis
