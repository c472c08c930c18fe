#include "benchsupport/invoiceseed.h"

#include <QByteArray>

#include <algorithm>

#include <sqlite3.h>

namespace fis::bench {

namespace {

void run(sqlite3 *db, const QByteArray &sql)
{
    char *error = nullptr;
    if (sqlite3_exec(db, sql.constData(), nullptr, nullptr, &error) != SQLITE_OK)
        qFatal("seeding failed: %s\n%s", error, sql.constData());
}

// The item count of invoice `n` (an SQL expression) as the block cycles it.
QByteArray itemsOf(const InvoiceBlock &block, const QByteArray &n)
{
    QByteArray sql = "(CASE " + n + " % " + QByteArray::number(block.items.size());
    for (int i = 0; i < block.items.size(); ++i)
        sql += " WHEN " + QByteArray::number(i) + " THEN " + QByteArray::number(block.items.at(i));
    return sql + " END)";
}

QByteArray invoicesSql(const InvoiceBlock &b)
{
    const QByteArray count = QByteArray::number(b.count), k = itemsOf(b, "n");
    const QByteArray flag =
        b.exportedEvery > 0
            ? "CASE WHEN n % " + QByteArray::number(b.exportedEvery) + " = 0 THEN 'S' ELSE 'N' END"
            : QByteArray("'N'");
    return "WITH RECURSIVE seq(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM seq WHERE n < " + count +
           ") INSERT INTO NFCOMPRA (CDFILIAL, NRLANCTONF, CDEMPRESA, IDENTRSAIDOP, CDTIPOOPER,"
           " CDSERIE, NRNOTAFISC, DTEMISSAO, VRNOTAFISC, CDCLIENTE, CDINSCESTA, CDINSCMUNI,"
           " IDNFCOMPRALEG, NRCFOP, CDMODELONF, VRBASEICMS, VRICMS, VRISENTO, VROUTRAS,"
           " PCALIQICMS, IDSITUACAO)"
           " SELECT '0001', printf('" +
           QByteArray(1, b.prefix) + "%09d', n), '01', 'E', '01', '1', CAST(" +
           QByteArray::number(b.numberBase) + " + n AS TEXT), date('" +
           b.first.toString(Qt::ISODate).toLatin1() + "', '+' || ((n - 1) * " +
           QByteArray::number(b.days) + " / " + count + ") || ' days'), 110.0 * " + k +
           ", printf('%06d', 1 + n % 150), '052147836', '2145870010', " + flag +
           ", '1102', '55', 100.0 * " + k + ", 17.0 * " + k + ", 0, 10.0 * " + k +
           ", 17, 'N' FROM seq";
}

QByteArray itemsSql(const InvoiceBlock &b)
{
    int most = 1;
    for (int items : b.items)
        most = std::max(most, items);
    const QByteArray n = "CAST(substr(N.NRLANCTONF, 2) AS INTEGER)";
    // CROSS JOIN keeps the invoices outermost, so the rows arrive in key order.
    return "WITH RECURSIVE k(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM k WHERE i < " +
           QByteArray::number(most) +
           ") INSERT INTO NFCOMPRAITEM (CDFILIAL, NRLANCTONF, NRITEM, CDPRODUTO, NRCFOP, CDCST,"
           " QTITEM, VRPRODUTO, VRDESCONTO, VRBASEICMS, VRBASEICMSST, VRIPI, PCALIQICMS)"
           " SELECT N.CDFILIAL, N.NRLANCTONF, k.i, printf('%d', 100001 + (" +
           n + " + k.i) % 200), '1102', '000', 1.5, 100.0, 0, 100.0, 0, 10.0, 17" +
           " FROM NFCOMPRA N CROSS JOIN k WHERE N.CDFILIAL = '0001' AND N.NRLANCTONF LIKE '" +
           QByteArray(1, b.prefix) + "%' AND k.i <= " + itemsOf(b, n);
}

} // namespace

void seedInvoices(const QString &path, const InvoiceBlock &block)
{
    if (block.count < 1 || block.items.isEmpty() || block.days < 1)
        qFatal("seedInvoices: an empty block");
    for (int items : block.items)
        if (items < 1 || items > 999)
            qFatal("seedInvoices: %d items (1 to 999: NRITEM holds three digits)", items);
    sqlite3 *db = nullptr;
    if (sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE, nullptr) !=
        SQLITE_OK)
        qFatal("seedInvoices: cannot open %s", qPrintable(path));
    run(db, "BEGIN");
    run(db, invoicesSql(block));
    run(db, itemsSql(block));
    run(db, "COMMIT");
    sqlite3_close(db);
}

} // namespace fis::bench
