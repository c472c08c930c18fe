#include "server/compralegalservice.h"

#include "contracts/compralegalcontract.h"
#include "dataset/automationdate.h"
#include "dataset/datapacket.h"
#include "hostfw/widgets/keylist.h"
#include "rpc/rpcerror.h"
#include "server/filegenerator.h"
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

} // namespace

struct CompraLegalService::FileRow
{
    QString fileNumber;
    QString listNumber;
    QString company;
    QString stateRegistration;
    QString namePart;
    qint64 lineCount = -1; // -1: not built
    bool served = false;
};

CompraLegalService::CompraLegalService(SqliteConnection &db, const ServerConfig &config,
                                       std::function<void()> fileServed)
    : m_db(db)
    , m_config(config)
    , m_fileServed(std::move(fileServed))
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
    if (status == u"N")
        sql += " AND N.IDNFCOMPRALEG <> 'S'";
    else if (status == u"S")
        sql += " AND N.IDNFCOMPRALEG = 'S'";
    if (hasMinimum)
        sql += " AND N.VRNOTAFISC >= ?";
    sql += " ORDER BY N.DTEMISSAO, N.CDFILIAL, length(ltrim(N.NRNOTAFISC, '0')),"
           " ltrim(N.NRNOTAFISC, '0'), N.NRLANCTONF";

    SqliteTransaction tx(m_db, SqliteTransaction::Kind::Read);
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
    const QString list = nextNumber("NRLISTA");
    SqliteStatement add(m_db, "INSERT INTO LISTACOMPRALEG (NRLISTA, DTCRIACAO) VALUES (?1, ?2)");
    add.bind(1, list);
    add.bind(2, QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
    add.execute();
    tx.commit();
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
        SqliteStatement q(m_db, "SELECT (SELECT count(*) FROM LISTACOMPRALEGNF WHERE NRLISTA = ?1)"
                                " FROM LISTACOMPRALEG WHERE NRLISTA = ?1");
        q.bind(1, list);
        if (!q.step())
            throw RpcError(QStringLiteral("Lista %1 não encontrada.").arg(list));
        if (q.integer(0) > 0)
            throw RpcError(QStringLiteral("A lista %1 já recebeu suas notas.").arg(list));
    }

    // CDLISTA is the branch code followed by the posting number. Branch codes are tried as
    // prefixes, each candidate confirmed by the invoice's primary key.
    QStringList branches;
    {
        SqliteStatement q(m_db, "SELECT CDFILIAL FROM FILIAL");
        while (q.step())
            branches.append(q.text(0));
    }
    SqliteStatement invoice(m_db, "SELECT CDEMPRESA, CDINSCESTA FROM NFCOMPRA"
                                  " WHERE CDFILIAL = ?1 AND NRLANCTONF = ?2");
    SqliteStatement insert(m_db, "INSERT INTO LISTACOMPRALEGNF (NRLISTA, CDLISTA, CDINSCESTA,"
                                 " CDFILIAL, NRLANCTONF) VALUES (?1, ?2, ?3, ?4, ?5)");
    QString company;
    QMap<QString, qint64> registrations; // ordered: files go by registration
    for (const DataRow &row : rows) {
        const QString key = row.at(1).toString();
        QString foundBranch, foundCompany, foundReg;
        int matches = 0;
        for (const QString &b : std::as_const(branches)) {
            if (key.size() <= b.size() || !key.startsWith(b))
                continue;
            invoice.bind(1, b);
            invoice.bind(2, key.mid(b.size()));
            if (invoice.step()) {
                ++matches;
                foundBranch = b;
                foundCompany = invoice.text(0);
                foundReg = invoice.text(1);
            }
            invoice.reset();
        }
        if (matches == 0)
            throw RpcError(QStringLiteral("Nota fiscal %1 não encontrada.").arg(key));
        if (matches > 1)
            throw RpcError(
                QStringLiteral("A chave %1 corresponde a notas de mais de uma filial.").arg(key));
        if (company.isNull())
            company = foundCompany;
        else if (foundCompany != company)
            throw RpcError(QStringLiteral("A nota %1 é da empresa %2; as demais são da empresa %3.")
                               .arg(key, foundCompany, company));
        insert.bind(1, list);
        insert.bind(2, key);
        insert.bind(3, foundReg);
        insert.bind(4, foundBranch);
        insert.bind(5, key.mid(foundBranch.size()));
        insert.execute();
        ++registrations[foundReg];
    }

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
    tx.commit();
    return RpcValue::fromPacket(answer);
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
        file.served = q.text(6) == u"S";
    };
    constexpr char fileColumns[] = "SELECT NRSEQARQMAG, NRLISTA, CDEMPRESA, CDINSCESTA,"
                                   " NOMEARQUIVO, NRTOTREGISTROS, IDSERVIDO FROM ARQCOMPRALEG";

    if (continuation.isEmpty()) {
        // A file's first page: check what the user can put right, then build every line.
        if (list.isEmpty())
            return userError(QStringLiteral("Número da lista deve ser informado."));
        if (!start.isValid() || !end.isValid())
            return userError(QStringLiteral("Período deve ser informado."));
        if (end < start)
            return userError(QStringLiteral("Data inicial do período deve ser menor ou igual a "
                                            "data final do período."));
        SqliteTransaction tx(m_db, SqliteTransaction::Kind::Write);
        {
            SqliteStatement q(m_db, "SELECT 1 FROM IMPOSTONFE WHERE CDIMPOSTONFE = ?1");
            q.bind(1, tax);
            if (!q.step())
                return userError(QStringLiteral("Imposto %1 não cadastrado.").arg(tax));
        }
        {
            SqliteStatement q(m_db, "SELECT 1 FROM LISTACOMPRALEG WHERE NRLISTA = ?1");
            q.bind(1, list);
            if (!q.step())
                return userError(QStringLiteral("Lista %1 não encontrada.").arg(list));
        }
        {
            SqliteStatement q(m_db, QByteArray(QByteArray(fileColumns) +
                                               " WHERE NRLISTA = ?1 AND CDINSCESTA = ?2")
                                        .constData());
            q.bind(1, list);
            q.bind(2, registration);
            if (!q.step())
                return userError(QStringLiteral("A inscrição estadual %1 não tem arquivo na "
                                                "lista %2.")
                                     .arg(registration, list));
            readFile(q);
        }
        if (file.company != company)
            return userError(QStringLiteral("A lista %1 é da empresa %2, não da empresa %3.")
                                 .arg(list, file.company, company));
        try {
            file.lineCount = generateExportFile(
                m_db, ExportFile{file.fileNumber, list, file.company, file.stateRegistration,
                                 file.namePart, start, end});
        } catch (const ExportDataError &e) {
            return userError(e.message());
        }
        file.served = false;
        tx.commit();
        args.set(5, file.fileNumber);
    } else {
        // A later page. The client does not read element 0 of these answers, so whatever goes
        // wrong here must be a call error for its failure guard to run.
        SqliteStatement q(
            m_db, QByteArray(QByteArray(fileColumns) + " WHERE NRSEQARQMAG = ?1").constData());
        q.bind(1, continuation);
        if (!q.step())
            throw RpcError(QStringLiteral("Continuação %1 desconhecida: o arquivo não existe "
                                          "(a lista foi excluída?).")
                               .arg(continuation));
        readFile(q);
        if (file.listNumber != list || file.stateRegistration != registration)
            throw RpcError(QStringLiteral("A continuação %1 é do arquivo da inscrição %2 da "
                                          "lista %3.")
                               .arg(continuation, file.stateRegistration, file.listNumber));
        if (file.lineCount < 0 || file.served)
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
        SqliteStatement recent(m_db, "UPDATE LISTACOMPRALEG SET NRSEQARQULT = ?1"
                                     " WHERE NRLISTA = ?2");
        recent.bind(1, file.fileNumber);
        recent.bind(2, file.listNumber);
        recent.execute();
        if (!more) {
            // Served in full: the lines are deleted after this answer, by the janitor.
            SqliteStatement served(m_db, "UPDATE ARQCOMPRALEG SET IDSERVIDO = 'S'"
                                         " WHERE NRSEQARQMAG = ?1");
            served.bind(1, file.fileNumber);
            served.execute();
        }
        tx.commit();
    }
    if (!more && m_fileServed)
        m_fileServed();
    return registroAnswer(QStringLiteral("OK"), page, more, file.fileNumber);
}

RpcValue CompraLegalService::GetDeletaLista(RpcArgs &args)
{
    args.expectCount(1);
    const QString list = args.text(0).trimmed();
    if (list.isEmpty())
        return QList<RpcValue>{QStringLiteral("Número da lista deve ser informado.")};

    SqliteTransaction tx(m_db, SqliteTransaction::Kind::Write);
    QString recent;
    {
        SqliteStatement q(m_db, "SELECT NRSEQARQULT FROM LISTACOMPRALEG WHERE NRLISTA = ?1");
        q.bind(1, list);
        if (!q.step())
            return QList<RpcValue>{QStringLiteral("OK")}; // nothing to remove
        recent = q.text(0);
    }
    // The invoices of files not served in full, and of the file asked for last (the client may
    // have failed to write it after its last page), get back the flag they had before the list.
    SqliteStatement revert(m_db, "UPDATE NFCOMPRA SET IDNFCOMPRALEG = ?1"
                                 " WHERE CDFILIAL = ?2 AND NRLANCTONF = ?3");
    SqliteStatement touched(m_db, "SELECT L.IDNFCOMPRALEGANT, L.CDFILIAL, L.NRLANCTONF"
                                  " FROM LISTACOMPRALEGNF L JOIN ARQCOMPRALEG A"
                                  " ON A.NRLISTA = L.NRLISTA AND A.CDINSCESTA = L.CDINSCESTA"
                                  " WHERE L.NRLISTA = ?1 AND L.IDNFCOMPRALEGANT IS NOT NULL"
                                  " AND (A.IDSERVIDO <> 'S' OR A.NRSEQARQMAG = ?2)");
    touched.bind(1, list);
    touched.bind(2, recent);
    while (touched.step()) {
        revert.bindUtf8(1, touched.utf8(0));
        revert.bindUtf8(2, touched.utf8(1));
        revert.bindUtf8(3, touched.utf8(2));
        revert.execute();
    }
    for (const char *sql : {"DELETE FROM REGARQCOMPRALEG WHERE NRSEQARQMAG IN"
                            " (SELECT NRSEQARQMAG FROM ARQCOMPRALEG WHERE NRLISTA = ?1)",
                            "DELETE FROM ARQCOMPRALEG WHERE NRLISTA = ?1",
                            "DELETE FROM LISTACOMPRALEGNF WHERE NRLISTA = ?1",
                            "DELETE FROM LISTACOMPRALEG WHERE NRLISTA = ?1"}) {
        SqliteStatement del(m_db, sql);
        del.bind(1, list);
        del.execute();
    }
    tx.commit();
    return QList<RpcValue>{QStringLiteral("OK")};
}

} // namespace fis
