#include "testsupport/testdatabase.h"

#include "demodata.h"

#include <QCryptographicHash>
#include <QDir>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QUuid>

namespace fis::test {

namespace {

QSqlDatabase database(const QString &name)
{
    return QSqlDatabase::database(name, false);
}

} // namespace

TestDatabase::TestDatabase(int invoices, quint64 seed)
{
    if (!m_dir.isValid())
        return;
    try {
        generateDemoDatabase(path(), invoices, seed);
    } catch (const DemoDataError &e) {
        qWarning("demo data: %s", qPrintable(e.message()));
        return;
    }
    QDir(m_dir.path()).mkpath(QStringLiteral("out"));
    m_connection = QUuid::createUuid().toString();
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
    db.setDatabaseName(path());
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=30000"));
    m_ok = db.open();
}

TestDatabase::~TestDatabase()
{
    if (!m_connection.isEmpty()) {
        database(m_connection).close();
        QSqlDatabase::removeDatabase(m_connection);
    }
}

QList<QVariantList> TestDatabase::rows(const QString &sql, const QVariantList &params) const
{
    QSqlQuery q(database(m_connection));
    q.setForwardOnly(true);
    if (!q.prepare(sql))
        qFatal("prepare %s: %s", qPrintable(sql), qPrintable(q.lastError().text()));
    for (const QVariant &p : params)
        q.addBindValue(p);
    if (!q.exec())
        qFatal("exec %s: %s", qPrintable(sql), qPrintable(q.lastError().text()));
    QList<QVariantList> out;
    while (q.next()) {
        QVariantList row;
        for (int i = 0; i < q.record().count(); ++i)
            row.append(q.value(i));
        out.append(row);
    }
    return out;
}

QVariant TestDatabase::value(const QString &sql, const QVariantList &params) const
{
    const QList<QVariantList> r = rows(sql, params);
    return r.isEmpty() ? QVariant() : r.first().value(0);
}

void TestDatabase::exec(const QString &sql, const QVariantList &params) const
{
    rows(sql, params);
}

QByteArray TestDatabase::checksum() const
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    const QList<QVariantList> tables =
        rows(QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name"));
    for (const QVariantList &t : tables) {
        const QString name = t.first().toString();
        hash.addData(name.toUtf8());
        // Ordered by every column, so that the dump does not depend on the storage order.
        const int columns =
            rows(QStringLiteral("SELECT count(*) FROM pragma_table_info(?)"), {name})
                .first()
                .first()
                .toInt();
        QStringList order;
        for (int i = 1; i <= columns; ++i)
            order << QString::number(i);
        // A running server's heartbeat moves on its own, whatever a call did.
        const QString columnsOf = name == u"SERVCOMPRALEG"
                                      ? QStringLiteral("CDSERVIDOR, CDMAQUINA, CDBOOT, NRPROCESSO,"
                                                       " NRINICIOPROC")
                                      : QStringLiteral("*");
        for (const QVariantList &row :
             rows(QStringLiteral("SELECT %1 FROM \"%2\" ORDER BY %3")
                      .arg(columnsOf, name,
                           name == u"SERVCOMPRALEG" ? QStringLiteral("1") : order.join(u','))))
            for (const QVariant &v : row)
                hash.addData(QByteArray(
                    (v.isNull() ? QStringLiteral("<null>") : v.toString()).toUtf8() + '\x1f'));
    }
    return hash.result().toHex();
}

} // namespace fis::test
