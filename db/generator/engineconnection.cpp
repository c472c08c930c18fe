#include "engineconnection.h"

#include "demodata.h"

#include <QSqlError>
#include <QSqlRecord>

#include <atomic>

namespace fis {

namespace {

QString connectionName()
{
    static std::atomic<int> counter{0};
    return QStringLiteral("fis_demodata_%1").arg(++counter);
}

QString errorText(const QSqlError &error)
{
    const QString database = error.databaseText().trimmed();
    const QString driver = error.driverText().trimmed();
    if (database.isEmpty() || driver.isEmpty())
        return database + driver;
    return database + QStringLiteral(" (") + driver + u')';
}

} // namespace

EngineConnection::EngineConnection(const DatabaseTarget &target)
    : m_target(target)
    , m_name(connectionName())
{
    if (!target.isServerEngine())
        throw DemoDataError(
            QStringLiteral("%1 não é um banco PostgreSQL nem Firebird.").arg(target.toString()));
    if (!QSqlDatabase::isDriverAvailable(target.qtDriver()))
        throw DemoDataError(
            QStringLiteral("O driver %1 do Qt não está instalado.").arg(target.qtDriver()));
    QString password;
    try {
        password = target.password();
    } catch (const Error &e) {
        throw DemoDataError(e.message());
    }
    QSqlDatabase db = QSqlDatabase::addDatabase(target.qtDriver(), m_name);
    db.setHostName(target.host);
    db.setPort(target.effectivePort());
    db.setDatabaseName(target.database);
    // open(user, password) keeps neither in the QSqlDatabase.
    if (!db.open(target.user, password)) {
        const QSqlError error = db.lastError();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(m_name);
        throw DemoDataError(QStringLiteral("Não foi possível abrir o banco de dados %1: %2")
                                .arg(target.toString(), errorText(error)));
    }
    // PostgreSQL would print a notice on standard error for every DROP ... IF EXISTS.
    if (target.engine == DatabaseEngine::PostgreSql)
        exec(QStringLiteral("SET client_min_messages = WARNING"));
}

EngineConnection::~EngineConnection()
{
    {
        QSqlDatabase db = database();
        db.close();
    }
    QSqlDatabase::removeDatabase(m_name);
}

QSqlDatabase EngineConnection::database() const
{
    return QSqlDatabase::database(m_name, false);
}

void EngineConnection::fail(const QString &what, const QSqlError &error) const
{
    throw DemoDataError(
        QStringLiteral("%1 (%2): %3").arg(what, m_target.toString(), errorText(error)));
}

void EngineConnection::exec(const QString &sql)
{
    // QIBASE commits a statement run outside a transaction on its own but drops the commit's
    // error, and Firebird checks much of a DDL statement (a foreign key's rows) only then.
    const bool ownTransaction = engine() == DatabaseEngine::Firebird && !m_inTransaction;
    if (ownTransaction)
        begin();
    {
        QSqlQuery query(database());
        if (!query.exec(sql)) {
            const QSqlError error = query.lastError();
            if (ownTransaction)
                rollback();
            fail(QStringLiteral("O comando falhou: %1").arg(sql.simplified().left(80)), error);
        }
    }
    if (ownTransaction)
        commit();
}

QSqlQuery EngineConnection::prepare(const QString &sql)
{
    QSqlQuery query(database());
    query.setForwardOnly(true);
    if (!query.prepare(sql))
        fail(QStringLiteral("Não foi possível preparar %1").arg(sql.simplified().left(80)),
             query.lastError());
    return query;
}

void EngineConnection::execute(QSqlQuery &query, const QVariantList &values)
{
    for (const QVariant &value : values)
        query.addBindValue(value);
    if (!query.exec())
        fail(QStringLiteral("O comando falhou: %1").arg(query.lastQuery().simplified().left(80)),
             query.lastError());
}

std::vector<QVariantList> EngineConnection::rows(const QString &sql, const QVariantList &values)
{
    QSqlQuery query = prepare(sql);
    execute(query, values);
    std::vector<QVariantList> result;
    // QIBASE reads the catalogue for a record's scaled columns: once per query, not per row.
    const int columns = query.record().count();
    while (query.next()) {
        QVariantList row;
        for (int c = 0; c < columns; ++c)
            row.append(query.value(c));
        result.push_back(std::move(row));
    }
    if (query.lastError().isValid())
        fail(QStringLiteral("A consulta falhou: %1").arg(sql.simplified().left(80)),
             query.lastError());
    return result;
}

void EngineConnection::begin()
{
    QSqlDatabase db = database();
    if (!db.transaction())
        fail(QStringLiteral("Não foi possível iniciar a transação"), db.lastError());
    m_inTransaction = true;
}

void EngineConnection::commit()
{
    QSqlDatabase db = database();
    m_inTransaction = false;
    if (!db.commit()) {
        const QSqlError error = db.lastError();
        db.rollback();
        fail(QStringLiteral("Não foi possível confirmar a transação"), error);
    }
}

void EngineConnection::rollback() noexcept
{
    QSqlDatabase db = database();
    db.rollback();
    m_inTransaction = false;
}

QString valueText(const QVariant &value)
{
    if (value.isNull())
        return {};
    if (value.typeId() == QMetaType::QDate)
        return value.toDate().toString(Qt::ISODate);
    if (value.typeId() == QMetaType::QDateTime)
        return value.toDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    return value.toString();
}

} // namespace fis
