#include "server/compralegalservice.h"

#include "contracts/compralegalcontract.h"
#include "dataset/automationdate.h"
#include "dataset/datapacket.h"
#include "hostfw/widgets/keylist.h"
#include "rpc/rpcerror.h"
#include "server/exportlists.h"
#include "server/filegenerator.h"
#include "server/multirowinsert.h"
#include "server/serverlog.h"
#include "server/sqliteconnection.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMap>
#include <QSet>

#include <cmath>
#include <optional>

namespace fis {

namespace {

QString isoDay(const QDate &date)
{
    return date.toString(Qt::ISODate);
}

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

QString keysAsJson(const QStringList &keys)
{
    return QString::fromUtf8(
        QJsonDocument(QJsonArray::fromStringList(keys)).toJson(QJsonDocument::Compact));
}

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

// The stored date (and time) of DTEMISSAO as the packet's zone-free date-time.
QDateTime storedDateTime(QByteArrayView text)
{
    const auto digits = [&](int from, int count) {
        int n = 0;
        for (int i = from; i < from + count; ++i) {
            const char c = text.at(i);
            if (c < '0' || c > '9')
                return -1;
            n = n * 10 + (c - '0');
        }
        return n;
    };
    if (text.size() < 10)
        return {};
    const QDate date(digits(0, 4), digits(5, 2), digits(8, 2));
    QTime time(0, 0);
    if (text.size() >= 19)
        time = QTime(digits(11, 2), digits(14, 2), digits(17, 2));
    return wallClockDateTime(date, time.isValid() ? time : QTime(0, 0));
}

[[noreturn]] void packetError(const DataSetError &e)
{
    throw RpcError(QStringLiteral("Pacote de dados inválido: %1").arg(e.message()));
}

QString fileNamePart(int index)
{
    return QStringLiteral("%1").arg(index, 4, 10, QLatin1Char('0'));
}

// The same for an unknown list and for another session's: nobody learns of others' lists.
QString listNotFound(const QString &list)
{
    return QStringLiteral("Lista %1 não encontrada.").arg(list);
}

} // namespace

struct CompraLegalService::FileRow
{
    QString fileNumber;
    QString listNumber;
    QString company;
    QString stateRegistration;
    QString namePart;
    qint64 lineCount = -1; // -1: not built
    QString served;        // IDSERVIDO: 'N', 'S' or 'E'
    QString owner;         // the list's CDSESSAO
    QString listState;     // the list's IDSITUACAO
};

CompraLegalService::CompraLegalService(SqliteConnection &db, const ServerConfig &config,
                                       QString serverId, std::function<void()> filesServed)
    : m_db(db)
    , m_config(config)
    , m_serverId(std::move(serverId))
    , m_filesServed(std::move(filesServed))
{}

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

RpcValue CompraLegalService::GetNotaFiscal(RpcArgs &args)
{
    args.expectCount(12);
    const QString company = criterion(args, 0);
    const QString number = criterion(args, 1);
    const QString client = criterion(args, 2);
    const QString branch = criterion(args, 3);
    const QString stateReg = criterion(args, 4);
    const QString municipalReg = criterion(args, 5);
    const std::optional<QStringList> series = keyFilter(args, 6);
    const std::optional<QStringList> operations = keyFilter(args, 7);
    const QDate start = optionalDate(args, 8);
    const QDate end = optionalDate(args, 9);
    const QString status = args.text(10).trimmed().toUpper();
    if (status != u"N" && status != u"S" && status != u"T")
        throw RpcError(QStringLiteral("Status inválido: \"%1\". Use N (pendente), S (exportado) "
                                      "ou T (ambos).")
                           .arg(args.text(10)));
    const bool hasMinimum = !args.at(11).isNull();
    const double minimum = hasMinimum ? args.number(11) : 0.0;
    if (hasMinimum && !std::isfinite(minimum))
        throw RpcError(QStringLiteral("Valor mínimo inválido."));

    // Only the criteria given go into the statement, so that the planner sees the real shape
    // (company and period by their index); every value is bound, none is written into it.
    QByteArray sql = "SELECT N.IDENTRSAIDOP, N.IDNFCOMPRALEG, N.CDFILIAL, C.IDTPIJURCLIE,"
                     " C.NRINSJURCLIE, C.NMRAZSOCCLIE, N.NRLANCTONF, N.DTEMISSAO, N.NRNOTAFISC,"
                     " N.VRNOTAFISC, N.CDTIPOOPER, N.CDINSCESTA, N.CDINSCMUNI, N.CDSERIE,"
                     " N.CDCLIENTE"
                     " FROM NFCOMPRA N LEFT JOIN CLIENTE C ON C.CDCLIENTE = N.CDCLIENTE"
                     " WHERE 1 = 1";
    QList<QString> binds;
    const auto where = [&](const char *clause, const QString &value) {
        sql += clause;
        binds.append(value);
    };
    if (!company.isNull())
        where(" AND N.CDEMPRESA = ?", company);
    if (!number.isNull()) // typed numbers may come zero-filled to the branch's width
        where(" AND ltrim(N.NRNOTAFISC, '0') = ltrim(?, '0')", number);
    if (!client.isNull())
        where(" AND N.CDCLIENTE IN (SELECT CDCLIENTE FROM CLIENTE WHERE NRINSJURCLIE = ?)", client);
    if (!branch.isNull())
        where(" AND N.CDFILIAL = ?", branch);
    if (!stateReg.isNull())
        where(" AND N.CDINSCESTA = ?", stateReg);
    if (!municipalReg.isNull())
        where(" AND N.CDINSCMUNI = ?", municipalReg);
    if (series)
        where(" AND N.IDENTRSAIDOP || N.CDSERIE IN (SELECT value FROM json_each(?))",
              keysAsJson(*series));
    if (operations)
        where(" AND N.IDENTRSAIDOP || N.CDTIPOOPER IN (SELECT value FROM json_each(?))",
              keysAsJson(*operations));
    if (start.isValid())
        where(" AND N.DTEMISSAO >= ?", isoDay(start));
    if (end.isValid()) // the whole end day, also for values stored with a time
        where(" AND N.DTEMISSAO < ?", isoDay(end.addDays(1)));

    SqliteTransaction tx(m_db, SqliteTransaction::Kind::Read);
    if (status == u"N") {
        // `<> 'S'` seeks no index: after a large export every invoice of the period would be
        // read to find the few still pending. A company has few distinct flags, so when at most
        // one besides 'S' is present it becomes an equality on IX_NFCOMPRA_EMPRESA_STATUS.
        const PendingFlag pending = company.isNull() ? PendingFlag{} : pendingFlag(company);
        if (pending.kind == PendingFlag::Kind::None)
            sql += " AND 1 = 0";
        else if (pending.kind == PendingFlag::Kind::One)
            where(" AND N.IDNFCOMPRALEG = ?", pending.value);
        else
            sql += " AND N.IDNFCOMPRALEG <> 'S'";
    } else if (status == u"S") {
        sql += " AND N.IDNFCOMPRALEG = 'S'";
    }
    if (hasMinimum)
        sql += " AND N.VRNOTAFISC >= ?";
    sql += " ORDER BY N.DTEMISSAO, N.CDFILIAL, length(ltrim(N.NRNOTAFISC, '0')),"
           " ltrim(N.NRNOTAFISC, '0'), N.NRLANCTONF";

    SqliteStatement q(m_db, sql.constData());
    int i = 0;
    for (const QString &value : std::as_const(binds))
        q.bind(++i, value);
    if (hasMinimum)
        q.bind(++i, minimum);

    try {
        PacketWriter writer(compralegal::notaFiscalFields(), -1, QStringLiteral("cdsNotaFiscal"));
        const QString exported = QStringLiteral("S");
        const QString pending = QStringLiteral("N");
        const QString unmarked = QStringLiteral("U");
        while (q.step()) {
            writer.addText(q.text(0));
            writer.addText(q.utf8(1) == "S" ? exported : pending);
            writer.addText(unmarked);
            writer.addText(q.text(2));
            writer.addText(clientText(q.text(3), q.text(4), q.text(5)));
            writer.addText(q.text(6));
            writer.addDateTime(storedDateTime(q.utf8(7)));
            writer.addText(q.text(8));
            writer.addFloat(q.real(9));
            for (int column = 10; column <= 14; ++column) {
                if (q.isNull(column))
                    writer.addNull();
                else
                    writer.addText(q.text(column));
            }
        }
        const QByteArray packet = writer.finish();
        tx.commit();
        return RpcValue::fromPacket(packet);
    } catch (const DataSetError &e) {
        throw RpcError(
            QStringLiteral("Nota fiscal com dado fora do tamanho da lista: %1").arg(e.message()));
    }
}

CompraLegalService::PendingFlag CompraLegalService::pendingFlag(const QString &company)
{
    // Each step is one seek on IX_NFCOMPRA_EMPRESA_STATUS (company, flag): the smallest flag,
    // then the smallest above the last one seen.
    SqliteStatement lowest(m_db, "SELECT min(IDNFCOMPRALEG), typeof(min(IDNFCOMPRALEG))"
                                 " FROM NFCOMPRA WHERE CDEMPRESA = ?1");
    SqliteStatement above(m_db, "SELECT min(IDNFCOMPRALEG), typeof(min(IDNFCOMPRALEG))"
                                " FROM NFCOMPRA WHERE CDEMPRESA = ?1 AND IDNFCOMPRALEG > ?2");
    lowest.bind(1, company);
    SqliteStatement *q = &lowest;
    PendingFlag found;
    found.kind = PendingFlag::Kind::None;
    while (q->step() && !q->isNull(0)) {
        // Only text compares as the equality would; anything else keeps the general clause.
        if (q->utf8(1) != "text")
            return {};
        const QString flag = q->text(0);
        q->reset();
        if (flag != u"S") {
            if (found.kind == PendingFlag::Kind::One)
                return {};
            found = {PendingFlag::Kind::One, flag};
        }
        above.bind(1, company);
        above.bind(2, flag);
        q = &above;
    }
    return found;
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
    SqliteStatement up(m_db, "UPDATE SEQCOMPRALEG SET NRULTIMO = NRULTIMO + 1"
                             " WHERE NMSEQUENCIA = ?1 RETURNING NRULTIMO");
    up.bind(1, QString::fromLatin1(sequence));
    if (!up.step())
        throw RpcError(QStringLiteral("Sequência %1 não cadastrada no banco de dados.")
                           .arg(QLatin1String(sequence)));
    const qint64 number = up.integer(0);
    up.reset();
    if (number > 9999999999LL)
        throw RpcError(QStringLiteral("Sequência %1 esgotada.").arg(QLatin1String(sequence)));
    return QStringLiteral("%1").arg(number, 10, 10, QLatin1Char('0'));
}

RpcValue CompraLegalService::GetLista(RpcArgs &args)
{
    args.expectCount(0);
    SqliteTransaction tx(m_db, SqliteTransaction::Kind::Write);
    // A session runs one export at a time, so a new list ends its earlier runs: what they
    // delivered becomes final, what they left open is undone.
    const exportlists::Outcome earlier = exportlists::closeSession(m_db, args.session());
    const QString list = nextNumber("NRLISTA");
    SqliteStatement add(m_db, "INSERT INTO LISTACOMPRALEG (NRLISTA, DTCRIACAO, CDSESSAO,"
                              " IDSITUACAO, DTATIVIDADE, CDSERVIDOR) VALUES (?1, ?2, ?3, 'A', ?4,"
                              " ?5)");
    add.bind(1, list);
    add.bind(2, QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
    add.bind(3, args.session());
    add.bind(4, exportlists::now());
    add.bind(5, m_serverId);
    add.execute();
    tx.commit();
    for (const QString &line : exportlists::describe(earlier, QStringLiteral("its session began "
                                                                             "another export")))
        logServerLine(line);
    if (!earlier.finalized.isEmpty() && m_filesServed)
        m_filesServed();
    return list;
}

RpcValue CompraLegalService::getNotasMarcadas(RpcArgs &args)
{
    args.expectCount(1);
    std::vector<DataRow> rows;
    try {
        rows = decodePacketRows(args.packet(0), compralegal::listaFields(),
                                QStringLiteral("cdsLista"));
    } catch (const DataSetError &e) {
        packetError(e);
    }
    if (rows.empty())
        throw RpcError(QStringLiteral("Nenhuma nota fiscal foi marcada."));

    const QString list = rows.front().at(0).toString().trimmed();
    if (list.isEmpty())
        throw RpcError(QStringLiteral("Número da lista deve ser informado (NRLISTA vazio)."));
    QSet<QString> seen;
    for (const DataRow &row : rows) {
        if (row.at(0).toString().trimmed() != list)
            throw RpcError(QStringLiteral("As notas marcadas pertencem a listas diferentes "
                                          "(%1 e %2).")
                               .arg(list, row.at(0).toString()));
        const QString key = row.at(1).toString();
        if (key.trimmed().isEmpty())
            throw RpcError(QStringLiteral("Nota marcada sem CDLISTA."));
        if (seen.contains(key))
            throw RpcError(QStringLiteral("A nota %1 foi marcada duas vezes.").arg(key));
        seen.insert(key);
    }

    SqliteTransaction tx(m_db, SqliteTransaction::Kind::Write);
    {
        const std::optional<exportlists::OwnedList> owned =
            exportlists::findOwned(m_db, list, args.session());
        if (!owned)
            throw RpcError(listNotFound(list));
        SqliteStatement q(m_db, "SELECT 1 FROM ARQCOMPRALEG WHERE NRLISTA = ?1");
        q.bind(1, list);
        if (owned->state != QLatin1String(exportlists::kOpen) || q.step())
            throw RpcError(QStringLiteral("A lista %1 já recebeu suas notas.").arg(list));
    }

    // CDLISTA is the branch code followed by the posting number. Branch codes are tried as
    // prefixes, each candidate confirmed by the invoice's primary key.
    // A list may hold hundreds of thousands of keys: each is converted to UTF-8 once and bound
    // as views of that, and the invoice's company and registration, nearly always the same as
    // the row before, are converted only when their bytes change.
    QStringList branches;
    QList<QByteArray> branchesUtf8;
    {
        SqliteStatement q(m_db, "SELECT CDFILIAL FROM FILIAL");
        while (q.step()) {
            branches.append(q.text(0));
            branchesUtf8.append(branches.back().toUtf8());
        }
    }
    SqliteStatement invoice(m_db, "SELECT CDEMPRESA, CDINSCESTA FROM NFCOMPRA"
                                  " WHERE CDFILIAL = ?1 AND NRLANCTONF = ?2");
    // The marked invoices go in 100 rows per INSERT, as the file's lines do.
    constexpr int batchRows = 100;
    MultiRowInsert insert(m_db,
                          "INSERT INTO LISTACOMPRALEGNF (NRLISTA, CDLISTA, CDINSCESTA, CDFILIAL,"
                          " NRLANCTONF)",
                          {1, 0, 0, 0, 0}, batchRows);
    struct Marked
    {
        QByteArray key, registration;
        qsizetype branch;
    };
    std::vector<Marked> batch;
    batch.reserve(batchRows);
    const QByteArray listUtf8 = list.toUtf8();
    const auto bindBatch = [&](SqliteStatement &statement, int first, int count) {
        statement.bindUtf8NoCopy(1, listUtf8);
        for (int r = 0; r < count; ++r) {
            const Marked &m = batch[size_t(first + r)];
            const QByteArray &branchUtf8 = branchesUtf8.at(m.branch);
            statement.bindUtf8NoCopy(insert.parameter(r, 0), m.key);
            statement.bindUtf8NoCopy(insert.parameter(r, 1), m.registration);
            statement.bindUtf8NoCopy(insert.parameter(r, 2), branchUtf8);
            statement.bindUtf8NoCopy(insert.parameter(r, 3),
                                     QByteArrayView(m.key).sliced(branchUtf8.size()));
        }
    };
    const auto flush = [&] {
        if (batch.empty())
            return;
        try {
            insert.insert(int(batch.size()), bindBatch);
        } catch (const DatabaseError &e) {
            // The unique index refused an invoice that another unfinished list holds.
            if (!e.isUniqueViolation())
                throw;
            for (const Marked &m : batch) {
                const QByteArray &branchUtf8 = branchesUtf8.at(m.branch);
                const QString taken = invoiceOnAnotherList(
                    list, branchUtf8, QByteArrayView(m.key).sliced(branchUtf8.size()));
                if (!taken.isEmpty())
                    throw RpcError(taken);
            }
            throw;
        }
        batch.clear();
    };
    // A value read back as the QString it was before, and its UTF-8 to bind.
    struct Read
    {
        QByteArray raw;
        QString text;
        QByteArray utf8;
        void set(QByteArrayView bytes)
        {
            if (!text.isNull() && raw == bytes)
                return;
            raw = bytes.toByteArray();
            text = QString::fromUtf8(bytes);
            utf8 = text.toUtf8();
        }
    };
    QString company;
    QMap<QString, qint64> registrations; // ordered: files go by registration
    Read foundCompany, foundReg;
    QString countedReg;
    qint64 *counted = nullptr;
    for (const DataRow &row : rows) {
        const QString key = row.at(1).toString();
        const QByteArray keyUtf8 = key.toUtf8();
        qsizetype foundBranch = -1;
        int matches = 0;
        for (qsizetype b = 0; b < branches.size(); ++b) {
            const QString &branch = branches.at(b);
            if (key.size() <= branch.size() || !key.startsWith(branch))
                continue;
            invoice.bindUtf8NoCopy(1, branchesUtf8.at(b));
            invoice.bindUtf8NoCopy(2, QByteArrayView(keyUtf8).sliced(branchesUtf8.at(b).size()));
            if (invoice.step()) {
                ++matches;
                foundBranch = b;
                foundCompany.set(invoice.utf8(0));
                foundReg.set(invoice.utf8(1));
            }
            invoice.reset();
        }
        if (matches == 0)
            throw RpcError(QStringLiteral("Nota fiscal %1 não encontrada.").arg(key));
        if (matches > 1)
            throw RpcError(
                QStringLiteral("A chave %1 corresponde a notas de mais de uma filial.").arg(key));
        if (company.isNull())
            company = foundCompany.text;
        else if (foundCompany.text != company)
            throw RpcError(QStringLiteral("A nota %1 é da empresa %2; as demais são da empresa %3.")
                               .arg(key, foundCompany.text, company));
        batch.push_back({keyUtf8, foundReg.utf8, foundBranch});
        if (batch.size() == batchRows)
            flush();
        if (!counted || countedReg != foundReg.text) {
            countedReg = foundReg.text;
            counted = &registrations[countedReg];
        }
        ++*counted;
    }
    flush();

    SqliteStatement state(m_db, "SELECT SGESTADO FROM INSCRESTAD WHERE CDEMPRESA = ?1 AND"
                                " CDINSCESTA = ?2");
    SqliteStatement addFile(m_db, "INSERT INTO ARQCOMPRALEG (NRSEQARQMAG, NRLISTA, CDEMPRESA,"
                                  " CDINSCESTA, SGESTADO, NOMEARQUIVO, NRTOTREGISTROS, IDSERVIDO,"
                                  " DTGERACAO) VALUES (?1, ?2, ?3, ?4, ?5, ?6, NULL, 'N', NULL)");
    PacketWriter writer(compralegal::arquivosFields(), registrations.size(),
                        QStringLiteral("cdsArquivos"));
    int index = 0;
    for (auto it = registrations.cbegin(); it != registrations.cend(); ++it) {
        const QString namePart = fileNamePart(++index);
        state.bind(1, company);
        state.bind(2, it.key());
        const QString uf = state.step() ? state.text(0) : QString();
        state.reset();
        addFile.bind(1, nextNumber("NRSEQARQMAG"));
        addFile.bind(2, list);
        addFile.bind(3, company);
        addFile.bind(4, it.key());
        addFile.bind(5, uf);
        addFile.bind(6, namePart);
        addFile.execute();
        try {
            writer.addText(it.key());
            writer.addText(namePart);
        } catch (const DataSetError &e) {
            packetError(e);
        }
    }
    const QByteArray answer = writer.finish();
    exportlists::touch(m_db, list, m_serverId);
    tx.commit();
    return RpcValue::fromPacket(answer);
}

QString CompraLegalService::invoiceOnAnotherList(const QString &list, QByteArrayView branch,
                                                 QByteArrayView posting)
{
    SqliteStatement q(m_db, "SELECT N.NRNOTAFISC FROM LISTACOMPRALEGNF L JOIN NFCOMPRA N"
                            " ON N.CDFILIAL = L.CDFILIAL AND N.NRLANCTONF = L.NRLANCTONF"
                            " WHERE L.CDFILIAL = ?1 AND L.NRLANCTONF = ?2 AND L.NRLISTA <> ?3");
    q.bindUtf8(1, branch);
    q.bindUtf8(2, posting);
    q.bind(3, list);
    if (!q.step())
        return {};
    return QStringLiteral("A nota fiscal %1 (filial %2, lançamento %3) já está em outra "
                          "exportação em andamento; exporte-a quando aquela terminar.")
        .arg(q.text(0), QString::fromUtf8(branch), QString::fromUtf8(posting));
}

RpcValue CompraLegalService::registroAnswer(const QString &status, const QByteArray &lines,
                                            bool more, const QString &continuation) const
{
    return QList<RpcValue>{status, RpcValue::fromPacket(lines), m_config.outputDirectoryWithSlash(),
                           more ? QStringLiteral("S") : QStringLiteral("N"), continuation};
}

RpcValue CompraLegalService::GetRegistro(RpcArgs &args)
{
    args.expectCount(12);
    args.text(0); // the base name of the output file, left as it came
    const QString company = args.text(1).trimmed();
    const QString tax = args.text(2).trimmed();
    const QDate start = optionalDate(args, 3);
    const QDate end = optionalDate(args, 4);
    const QString continuation = args.text(5).trimmed();
    const double first = args.number(7);
    const double last = args.number(8);
    const QString registration = args.text(9).trimmed();
    args.text(10); // last-file flag: every file is complete in itself, nothing to close
    const QString list = args.text(11).trimmed();
    if (!std::isfinite(first) || !std::isfinite(last))
        throw RpcError(QStringLiteral("Limites de página inválidos."));

    const auto userError = [&](const QString &text) {
        return registroAnswer(text, PacketWriter(compralegal::registrosFields(), 0).finish(), false,
                              {});
    };

    FileRow file;
    const auto readFile = [&](SqliteStatement &q) {
        file.fileNumber = q.text(0);
        file.listNumber = q.text(1);
        file.company = q.text(2);
        file.stateRegistration = q.text(3);
        file.namePart = q.text(4);
        file.lineCount = q.isNull(5) ? -1 : q.integer(5);
        file.served = q.text(6);
        file.owner = q.text(7);
        file.listState = q.text(8);
    };
    constexpr char fileColumns[] = "SELECT A.NRSEQARQMAG, A.NRLISTA, A.CDEMPRESA, A.CDINSCESTA,"
                                   " A.NOMEARQUIVO, A.NRTOTREGISTROS, A.IDSERVIDO, L.CDSESSAO,"
                                   " L.IDSITUACAO FROM ARQCOMPRALEG A JOIN LISTACOMPRALEG L"
                                   " ON L.NRLISTA = A.NRLISTA";
    const QString open = QLatin1String(exportlists::kOpen);

    if (continuation.isEmpty()) {
        // A file's first page: check what the user can put right, then build every line.
        if (list.isEmpty())
            return userError(QStringLiteral("Número da lista deve ser informado."));
        if (!start.isValid() || !end.isValid())
            return userError(QStringLiteral("Período deve ser informado."));
        if (end < start)
            return userError(QStringLiteral("Data inicial do período deve ser menor ou igual a "
                                            "data final do período."));
        QString refusal;
        {
            SqliteTransaction tx(m_db, SqliteTransaction::Kind::Write);
            const std::optional<exportlists::OwnedList> owned =
                exportlists::findOwned(m_db, list, args.session());
            if (!owned)
                return userError(listNotFound(list));
            if (owned->state != open)
                return userError(
                    QStringLiteral("Todos os arquivos da lista %1 já foram entregues.").arg(list));
            {
                SqliteStatement q(m_db, QByteArray(QByteArray(fileColumns) +
                                                   " WHERE A.NRLISTA = ?1 AND A.CDINSCESTA = ?2")
                                            .constData());
                q.bind(1, list);
                q.bind(2, registration);
                if (!q.step())
                    return userError(QStringLiteral("A inscrição estadual %1 não tem arquivo na "
                                                    "lista %2.")
                                         .arg(registration, list));
                readFile(q);
            }
            // A client asks for a file only once the one before is written: every other file
            // served so far has been delivered, whatever becomes of this one.
            SqliteStatement delivered(m_db, "UPDATE ARQCOMPRALEG SET IDSERVIDO = 'E'"
                                            " WHERE NRLISTA = ?1 AND IDSERVIDO = 'S'"
                                            " AND NRSEQARQMAG <> ?2");
            delivered.bind(1, list);
            delivered.bind(2, file.fileNumber);
            delivered.execute();

            SqliteStatement taxes(m_db, "SELECT 1 FROM IMPOSTONFE WHERE CDIMPOSTONFE = ?1");
            taxes.bind(1, tax);
            if (file.served == u"E")
                refusal = QStringLiteral("O arquivo %1 da lista %2 já foi entregue.")
                              .arg(file.namePart, list);
            else if (!taxes.step())
                refusal = QStringLiteral("Imposto %1 não cadastrado.").arg(tax);
            else if (file.company != company)
                refusal = QStringLiteral("A lista %1 é da empresa %2, não da empresa %3.")
                              .arg(list, file.company, company);
            taxes.reset();
            tx.commit();
        }
        if (!refusal.isEmpty())
            return userError(refusal);

        SqliteTransaction tx(m_db, SqliteTransaction::Kind::Write);
        // Undone meanwhile (by the lease, or by the session from another connection)?
        const std::optional<exportlists::OwnedList> owned =
            exportlists::findOwned(m_db, list, args.session());
        if (!owned || owned->state != open)
            return userError(listNotFound(list));
        try {
            file.lineCount = generateExportFile(
                m_db, ExportFile{file.fileNumber, list, file.company, file.stateRegistration,
                                 file.namePart, start, end});
        } catch (const ExportDataError &e) {
            return userError(e.message());
        }
        exportlists::touch(m_db, list, m_serverId);
        tx.commit();
        file.served = QStringLiteral("N");
        args.set(5, file.fileNumber);
    } else {
        // A later page. The client does not read element 0 of these answers, so whatever goes
        // wrong here must be a call error for its failure guard to run. A continuation of
        // another session's list is as unknown as one that never was.
        SqliteStatement q(
            m_db, QByteArray(QByteArray(fileColumns) + " WHERE A.NRSEQARQMAG = ?1").constData());
        q.bind(1, continuation);
        const bool found = q.step();
        if (found)
            readFile(q);
        if (!found || file.owner != args.session() || file.listNumber != list ||
            file.stateRegistration != registration)
            throw RpcError(QStringLiteral("Continuação %1 desconhecida: o arquivo não existe "
                                          "(a lista foi excluída?).")
                               .arg(continuation));
        if (file.lineCount < 0 || file.served != u"N" || file.listState != open)
            throw RpcError(QStringLiteral("O arquivo %1 já foi entregue por completo; comece "
                                          "de novo com a continuação vazia.")
                               .arg(file.namePart));
    }

    // Lines are numbered from 1, so a page from 0 starts at line 1. The cap counts the lines the
    // page can hold, and lowering `last` tells the client where to go on from.
    const qint64 from = std::max<qint64>(1, qint64(std::ceil(first)));
    qint64 to = qint64(std::floor(std::min(last, 9e15)));
    if (to - from + 1 > m_config.pageSizeCap) {
        to = from + m_config.pageSizeCap - 1;
        args.set(8, double(to));
    }
    QByteArray page;
    {
        SqliteTransaction tx(m_db, SqliteTransaction::Kind::Read);
        SqliteStatement q(m_db, "SELECT NRORDREGARQ, DSREGARQMAG, SQUENCIAL FROM REGARQCOMPRALEG"
                                " WHERE NRSEQARQMAG = ?1 AND NRORDREGARQ BETWEEN ?2 AND ?3"
                                " ORDER BY NRORDREGARQ");
        q.bind(1, file.fileNumber);
        q.bind(2, from);
        q.bind(3, to);
        PacketWriter writer(compralegal::registrosFields(), -1, QStringLiteral("cdsRegistros"));
        const QString number = file.fileNumber;
        while (q.step()) {
            writer.addText(number);
            writer.addFloat(double(q.integer(0)));
            writer.addText(QString::fromLatin1(q.utf8(1)));
            writer.addFloat(double(q.integer(2)));
        }
        page = writer.finish();
        tx.commit();
    }
    const bool more = to < file.lineCount;

    {
        SqliteTransaction tx(m_db, SqliteTransaction::Kind::Write);
        // The list may have been undone while the page was read: then this page must not count.
        const std::optional<exportlists::OwnedList> owned =
            exportlists::findOwned(m_db, file.listNumber, args.session());
        if (!owned || owned->state != open)
            throw RpcError(listNotFound(file.listNumber));
        exportlists::touch(m_db, file.listNumber, m_serverId);
        if (!more) {
            // Served in full: the lines are deleted after this answer, by the janitor. With the
            // list's last file the list is delivered.
            SqliteStatement served(m_db, "UPDATE ARQCOMPRALEG SET IDSERVIDO = 'S'"
                                         " WHERE NRSEQARQMAG = ?1");
            served.bind(1, file.fileNumber);
            served.execute();
            SqliteStatement delivered(m_db, "UPDATE LISTACOMPRALEG SET IDSITUACAO = 'E'"
                                            " WHERE NRLISTA = ?1 AND NOT EXISTS (SELECT 1 FROM"
                                            " ARQCOMPRALEG WHERE NRLISTA = ?1"
                                            " AND IDSERVIDO = 'N')");
            delivered.bind(1, file.listNumber);
            delivered.execute();
        }
        tx.commit();
    }
    if (!more && m_filesServed)
        m_filesServed();
    return registroAnswer(QStringLiteral("OK"), page, more, file.fileNumber);
}

RpcValue CompraLegalService::GetDeletaLista(RpcArgs &args)
{
    args.expectCount(1);
    const QString list = args.text(0).trimmed();
    if (list.isEmpty())
        return QList<RpcValue>{QStringLiteral("Número da lista deve ser informado.")};

    SqliteTransaction tx(m_db, SqliteTransaction::Kind::Write);
    const std::optional<exportlists::OwnedList> owned =
        exportlists::findOwned(m_db, list, args.session());
    if (!owned)
        return QList<RpcValue>{listNotFound(list)};
    if (owned->state == QLatin1String(exportlists::kFinal))
        return QList<RpcValue>{QStringLiteral("A lista %1 já foi entregue e não pode mais ser "
                                              "excluída.")
                                   .arg(list)};
    // The invoices of every file not delivered - not served in full, or served last and not
    // yet known to be written - get back the flag they had before the list.
    exportlists::revert(m_db, list);
    tx.commit();
    return QList<RpcValue>{QStringLiteral("OK")};
}

} // namespace fis
