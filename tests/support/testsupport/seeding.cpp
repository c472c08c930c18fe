#include "testsupport/seeding.h"

#include <QByteArray>

#include <sqlite3.h>

namespace fis::test {

namespace {

void run(sqlite3 *db, const char *sql)
{
    char *error = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &error) != SQLITE_OK)
        qFatal("%s: %s", sql, error);
}

} // namespace

void addInvoices(const QString &path, int count, int items)
{
    sqlite3 *db = nullptr;
    sqlite3_open(path.toUtf8().constData(), &db);
    run(db, "BEGIN");
    const QByteArray k = QByteArray::number(items);
    const QByteArray invoices =
        "WITH RECURSIVE seq(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM seq WHERE n < " +
        QByteArray::number(count) +
        ") INSERT INTO NFCOMPRA SELECT '0001', printf('B%09d', n), '01', 'E', '01', '1',"
        " CAST(500000 + n AS TEXT), date('2025-01-01', '+' || (n * 120 / " +
        QByteArray::number(count) + ") || ' days'), 110.0 * " + k +
        ", printf('%06d', 1 + n % 150), '052147836',"
        " '2145870010', 'N', '1102', '55', 100.0 * " +
        k + ", 17.0 * " + k + ", 0, 10.0 * " + k + ", 17, 'N' FROM seq";
    run(db, invoices.constData());
    // CROSS JOIN keeps the invoices outermost, so the rows arrive in key order.
    const QByteArray itemRows =
        "WITH RECURSIVE k(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM k WHERE i < " + k +
        ") INSERT INTO NFCOMPRAITEM SELECT N.CDFILIAL, N.NRLANCTONF, k.i,"
        " printf('%d', 100001 + (CAST(substr(N.NRLANCTONF, 2) AS INTEGER) + k.i) % 200),"
        " '1102', '000', 1.5, 100.0, 0, 100.0, 0, 10.0, 17"
        " FROM NFCOMPRA N CROSS JOIN k WHERE N.NRLANCTONF LIKE 'B%'";
    run(db, itemRows.constData());
    run(db, "COMMIT");
    sqlite3_close(db);
}

} // namespace fis::test
