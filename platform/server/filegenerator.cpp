#include "server/filegenerator.h"

#include "server/layout/filelayoutbuilder.h"
#include "server/layout/layouterror.h"
#include "server/sqliteconnection.h"

#include <QDateTime>
#include <QSet>

namespace fis {

namespace {

// The ORDER BY that puts invoices in the order the file layout requires: issue date, invoice
// number as a number, then issuer document, model and series as the record writes them (these
// only separate invoices of different issuers that share date and number). Numbers are compared
// by their digits without leading zeros, so that no length overflows.
constexpr char kInvoiceOrder[] =
    " ORDER BY substr(N.DTEMISSAO, 1, 10), length(ltrim(N.NRNOTAFISC, '0')),"
    " ltrim(N.NRNOTAFISC, '0'),"
    " substr('00000000000000' || coalesce(trim(C.NRINSJURCLIE), ''), -14),"
    " CAST(N.CDMODELONF AS INTEGER), upper(coalesce(N.CDSERIE, '')), N.CDFILIAL, N.NRLANCTONF";

constexpr char kFileInvoices[] =
    " FROM LISTACOMPRALEGNF L"
    " JOIN NFCOMPRA N ON N.CDFILIAL = L.CDFILIAL AND N.NRLANCTONF = L.NRLANCTONF"
    " LEFT JOIN CLIENTE C ON C.CDCLIENTE = N.CDCLIENTE";
constexpr char kOfFile[] = " WHERE L.NRLISTA = ?1 AND L.CDINSCESTA = ?2";

QDate isoDate(QByteArrayView text)
{
    // 'YYYY-MM-DD', possibly followed by a time.
    if (text.size() < 10)
        return {};
    return QDate::fromString(QString::fromLatin1(text.first(10)), Qt::ISODate);
}

// Columns shared by the invoice and the item queries, in this order.
constexpr char kKeyColumns[] = "N.CDFILIAL, N.NRLANCTONF, N.NRNOTAFISC, N.DTEMISSAO, "
                               "N.CDMODELONF, N.CDSERIE, C.NRINSJURCLIE";

QString invoiceName(const SqliteStatement &row)
{
    return QStringLiteral("nota fiscal %1 (filial %2, lançamento %3)")
        .arg(row.text(2), row.text(0), row.text(1));
}

InvoiceKey readKey(const SqliteStatement &row)
{
    InvoiceKey key;
    key.issuerDocument = row.text(6);
    key.issueDate = isoDate(row.utf8(3));
    if (!key.issueDate.isValid())
        throw ExportDataError(QStringLiteral("A %1 tem data de emissão inválida: \"%2\".")
                                  .arg(invoiceName(row), row.text(3)));
    bool ok = false;
    key.model = row.text(4).trimmed().toInt(&ok);
    if (!ok)
        throw ExportDataError(
            QStringLiteral("A %1 tem modelo inválido: \"%2\".").arg(invoiceName(row), row.text(4)));
    key.series = row.text(5);
    const QString number = row.text(2).trimmed();
    QStringView digits = number;
    while (digits.size() > 1 && digits.front() == u'0')
        digits = digits.mid(1);
    key.number = digits.size() <= 18 ? digits.toLongLong(&ok) : 0;
    if (!ok || digits.size() > 18 || key.number < 0)
        throw ExportDataError(QStringLiteral("A %1 tem número que não é numérico: \"%2\".")
                                  .arg(invoiceName(row), number));
    return key;
}

int cfopOf(const SqliteStatement &row, int column, const QString &what)
{
    bool ok = false;
    const int cfop = row.text(column).trimmed().toInt(&ok);
    if (!ok)
        throw ExportDataError(
            QStringLiteral("%1 tem CFOP inválido: \"%2\".").arg(what, row.text(column)));
    return cfop;
}

} // namespace

qint64 generateExportFile(SqliteConnection &db, const ExportFile &file)
{
    Informant informant;
    {
        SqliteStatement q(db, "SELECT I.NRCNPJ, I.NMMUNICIPIO, I.NRFAX, I.DSLOGRADOURO,"
                              " I.NRLOGRADOURO, I.DSCOMPLEMENTO, I.NMBAIRRO, I.NRCEP, I.NMCONTATO,"
                              " I.NRTELEFONE, E.NMEMPRESA"
                              " FROM INSCRESTAD I JOIN EMPRESA E ON E.CDEMPRESA = I.CDEMPRESA"
                              " WHERE I.CDEMPRESA = ?1 AND I.CDINSCESTA = ?2");
        q.bind(1, file.company);
        q.bind(2, file.stateRegistration);
        if (!q.step())
            throw ExportDataError(
                QStringLiteral("Inscrição estadual %1 não cadastrada para a empresa %2.")
                    .arg(file.stateRegistration, file.company));
        informant.cnpj = q.text(0);
        informant.stateRegistration = file.stateRegistration;
        informant.municipality = q.text(1);
        informant.fax = q.text(2);
        informant.street = q.text(3);
        informant.number = q.text(4);
        informant.complement = q.text(5);
        informant.district = q.text(6);
        informant.postalCode = q.text(7);
        informant.contactName = q.text(8);
        informant.phone = q.text(9);
        informant.name = q.text(10);
    }

    {
        SqliteStatement clear(db, "DELETE FROM REGARQCOMPRALEG WHERE NRSEQARQMAG = ?1");
        clear.bind(1, file.fileNumber);
        clear.execute();
        // The flag before this list touched the invoice; a rebuild keeps the first one kept.
        SqliteStatement keep(db, "UPDATE LISTACOMPRALEGNF SET IDNFCOMPRALEGANT ="
                                 " (SELECT N.IDNFCOMPRALEG FROM NFCOMPRA N"
                                 "  WHERE N.CDFILIAL = LISTACOMPRALEGNF.CDFILIAL"
                                 "  AND N.NRLANCTONF = LISTACOMPRALEGNF.NRLANCTONF)"
                                 " WHERE NRLISTA = ?1 AND CDINSCESTA = ?2"
                                 " AND IDNFCOMPRALEGANT IS NULL");
        keep.bind(1, file.listNumber);
        keep.bind(2, file.stateRegistration);
        keep.execute();
    }

    // SQUENCIAL numbers the lines of the whole list: this file's lines follow those of the
    // list's files before it that have been built.
    qint64 sequenceBase = 0;
    {
        SqliteStatement q(db, "SELECT coalesce(sum(NRTOTREGISTROS), 0) FROM ARQCOMPRALEG"
                              " WHERE NRLISTA = ?1 AND NOMEARQUIVO < ?2");
        q.bind(1, file.listNumber);
        q.bind(2, file.namePart);
        if (q.step())
            sequenceBase = q.integer(0);
    }

    SqliteStatement insertLine(db, "INSERT INTO REGARQCOMPRALEG (NRSEQARQMAG, NRORDREGARQ,"
                                   " NRLISTA, DSREGARQMAG, SQUENCIAL) VALUES (?1, ?2, ?3, ?4, ?5)");
    const QByteArray fileNumber = file.fileNumber.toUtf8();
    const QByteArray listNumber = file.listNumber.toUtf8();
    qint64 lineNumber = 0;
    FileLayoutBuilder builder([&](QByteArrayView line) {
        ++lineNumber;
        insertLine.bindUtf8NoCopy(1, fileNumber);
        insertLine.bind(2, lineNumber);
        insertLine.bindUtf8NoCopy(3, listNumber);
        insertLine.bindUtf8NoCopy(4, line);
        insertLine.bind(5, sequenceBase + lineNumber);
        insertLine.execute();
    });

    QString where; // what the builder was given last, for error messages
    try {
        where = QStringLiteral("Registros 10 e 11 da inscrição %1").arg(file.stateRegistration);
        builder.begin(informant, Period{file.periodStart, file.periodEnd});

        SqliteStatement invoices(
            db, QByteArray(QByteArray("SELECT ") + kKeyColumns +
                           ", N.NRCFOP, N.IDENTRSAIDOP, N.VRNOTAFISC, N.VRBASEICMS,"
                           " N.VRICMS, N.VRISENTO, N.VROUTRAS, N.PCALIQICMS,"
                           " N.IDSITUACAO, C.NRINSCESTCLIE, C.SGESTADO" +
                           kFileInvoices + kOfFile + kInvoiceOrder)
                    .constData());
        invoices.bind(1, file.listNumber);
        invoices.bind(2, file.stateRegistration);
        SqliteStatement markExported(db, "UPDATE NFCOMPRA SET IDNFCOMPRALEG = 'S'"
                                         " WHERE CDFILIAL = ?1 AND NRLANCTONF = ?2"
                                         " AND IDNFCOMPRALEG <> 'S'");
        while (invoices.step()) {
            where = QStringLiteral("A ") + invoiceName(invoices);
            Invoice invoice;
            invoice.key = readKey(invoices);
            invoice.cfop = cfopOf(invoices, 7, where);
            invoice.issuer =
                invoices.text(8) == u"S" ? InvoiceIssuer::Own : InvoiceIssuer::ThirdParty;
            invoice.totalValue = invoices.real(9);
            invoice.icmsBase = invoices.real(10);
            invoice.icmsValue = invoices.real(11);
            invoice.exemptValue = invoices.real(12);
            invoice.otherValue = invoices.real(13);
            invoice.icmsRate = invoices.real(14);
            invoice.cancelled = invoices.text(15) == u"S";
            invoice.issuerStateRegistration = invoices.text(16);
            invoice.issuerState = invoices.text(17);
            builder.addInvoice(invoice);
            markExported.bindUtf8(1, invoices.utf8(0));
            markExported.bindUtf8(2, invoices.utf8(1));
            markExported.execute();
        }

        SqliteStatement items(db,
                              QByteArray(QByteArray("SELECT ") + kKeyColumns +
                                         ", I.NRITEM, I.NRCFOP, I.CDCST, I.CDPRODUTO, I.QTITEM,"
                                         " I.VRPRODUTO, I.VRDESCONTO, I.VRBASEICMS, I.VRBASEICMSST,"
                                         " I.VRIPI, I.PCALIQICMS" +
                                         kFileInvoices +
                                         " JOIN NFCOMPRAITEM I ON I.CDFILIAL = N.CDFILIAL"
                                         " AND I.NRLANCTONF = N.NRLANCTONF" +
                                         kOfFile + kInvoiceOrder + ", I.NRITEM")
                                  .constData());
        items.bind(1, file.listNumber);
        items.bind(2, file.stateRegistration);
        QSet<QString> productCodes;
        while (items.step()) {
            where = QStringLiteral("O item %1 da ").arg(items.integer(7)) + invoiceName(items);
            Item item;
            item.invoice = readKey(items);
            item.itemNumber = int(items.integer(7));
            item.cfop = cfopOf(items, 8, where);
            item.cst = items.text(9);
            item.productCode = items.text(10);
            item.quantity = items.real(11);
            item.productValue = items.real(12);
            item.discount = items.real(13);
            item.icmsBase = items.real(14);
            item.icmsStBase = items.real(15);
            item.ipiValue = items.real(16);
            item.icmsRate = items.real(17);
            builder.addItem(item);
            productCodes.insert(item.productCode);
        }

        SqliteStatement product(db, "SELECT CDPRODUTO, CDNCM, DSPRODUTO, SGUNIDADE, PCALIQIPI,"
                                    " PCALIQICMS, PCREDBASEICMS, VRBASEICMSST FROM PRODUTO"
                                    " WHERE CDPRODUTO = ?1");
        for (const QString &code : std::as_const(productCodes)) {
            product.bind(1, code);
            if (product.step()) {
                where = QStringLiteral("O produto %1").arg(code);
                builder.addProduct(Product{product.text(0), product.text(1), product.text(2),
                                           product.text(3), product.real(4), product.real(5),
                                           product.real(6), product.real(7)});
            }
            product.reset();
        }
        where = QStringLiteral("Os registros 75 e 90 da inscrição %1").arg(file.stateRegistration);
        builder.finish();
    } catch (const LayoutError &e) {
        throw ExportDataError(
            QStringLiteral("%1 não cabe no leiaute do arquivo: %2").arg(where, e.message()));
    }

    SqliteStatement done(db, "UPDATE ARQCOMPRALEG SET NRTOTREGISTROS = ?1, IDSERVIDO = 'N',"
                             " DTGERACAO = ?2 WHERE NRSEQARQMAG = ?3");
    done.bind(1, lineNumber);
    done.bind(2, QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
    done.bind(3, file.fileNumber);
    done.execute();
    return lineNumber;
}

} // namespace fis
