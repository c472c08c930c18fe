#include "hostfw/hostdatabase.h"

#include "hostfw/hosterror.h"

#include <QFileInfo>
#include <QSqlDriver>
#include <QSqlError>
#include <QVariant>

#include <sqlite3.h>

#include <atomic>

namespace fis {

namespace {

std::atomic<HostDatabase *> g_current{nullptr};

// NVL(a, b): a when it is not null, else b; Oracle's function, which the Oracle statements use
// to let a null parameter match every row.
void sqliteNvl(sqlite3_context *context, int argc, sqlite3_value **argv)
{
    if (argc != 2) {
        sqlite3_result_error(context, "NVL recebe dois argumentos", -1);
        return;
    }
    sqlite3_result_value(context, sqlite3_value_type(argv[0]) == SQLITE_NULL ? argv[1] : argv[0]);
}

} // namespace

QString HostDatabase::errorText(const QSqlError &error)
{
    const QString database = error.databaseText().trimmed();
    const QString driver = error.driverText().trimmed();
    if (database.isEmpty())
        return driver;
    if (driver.isEmpty())
        return database;
    return database + QStringLiteral(" (") + driver + u')';
}

HostDatabase::HostDatabase(const HostConfig &config, const QString &connectionName)
    : m_connectionName(connectionName)
    , m_dialect(config.effectiveDialect())
    , m_busyTimeoutMs(config.busyTimeoutMs)
    , m_config(config)
{
    if (!QSqlDatabase::isDriverAvailable(config.databaseDriver))
        throw DatabaseError(
            {},
            QStringLiteral("O driver de banco de dados %1 não está disponível (disponíveis: %2).")
                .arg(config.databaseDriver, QSqlDatabase::drivers().join(QStringLiteral(", "))));
    if (QSqlDatabase::contains(connectionName))
        throw DatabaseError({},
                            QStringLiteral("O nome de conexão de banco de dados %1 já está em uso.")
                                .arg(connectionName));
    QSqlDatabase db = QSqlDatabase::addDatabase(config.databaseDriver, connectionName);
    db.setDatabaseName(config.databaseName);
    db.setHostName(config.databaseHost);
    if (config.databasePort > 0)
        db.setPort(config.databasePort);
    db.setUserName(config.databaseUser);
    // Qt 6.4's QIBASE attaches in UTF8 already; saying so keeps it whatever the driver's default.
    if (config.databaseDriver == u"QIBASE")
        db.setConnectOptions(QStringLiteral("ISC_DPB_LC_CTYPE=UTF8"));
}

HostDatabase::~HostDatabase()
{
    HostDatabase *self = this;
    g_current.compare_exchange_strong(self, nullptr);
    {
        QSqlDatabase db = QSqlDatabase::database(m_connectionName, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(m_connectionName);
}

void HostDatabase::open()
{
    QSqlDatabase db = database();
    if (db.isOpen())
        return;
    if (db.driverName() != u"QSQLITE") {
        openServerEngine(db);
        return;
    }
    const QString file = db.databaseName();
    if (file.isEmpty())
        throw DatabaseError({},
                            QStringLiteral("Nenhum arquivo de banco de dados foi configurado."));
    if (file != u":memory:" && !QFileInfo(file).isFile())
        throw DatabaseError({},
                            QStringLiteral("O arquivo de banco de dados %1 não existe.").arg(file));
    if (!db.open())
        throw DatabaseError(
            {}, QStringLiteral("Não foi possível abrir o banco de dados %1").arg(db.databaseName()),
            errorText(db.lastError()));
    try {
        prepareSqlite();
    } catch (...) {
        db.close();
        throw;
    }
}

void HostDatabase::openServerEngine(QSqlDatabase &db)
{
    QString password;
    try {
        password = m_config.databasePassword();
    } catch (const ConfigError &e) {
        throw DatabaseError(
            {}, QStringLiteral("Não foi possível abrir o banco de dados %1").arg(db.databaseName()),
            e.message());
    }
    // open(user, password) keeps the password nowhere in the QSqlDatabase.
    if (!db.open(m_config.databaseUser, password))
        throw DatabaseError(
            {}, QStringLiteral("Não foi possível abrir o banco de dados %1").arg(db.databaseName()),
            errorText(db.lastError()));
}

void HostDatabase::prepareSqlite()
{
    QVariant handle = database().driver()->handle();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0)
        throw DatabaseError(
            {}, QStringLiteral("O driver SQLite não fornece o identificador da conexão."));
    sqlite3 *db = *static_cast<sqlite3 **>(handle.data());
    if (!db)
        throw DatabaseError({}, QStringLiteral("A conexão SQLite não está aberta."));
    const int rc = sqlite3_create_function_v2(db, "NVL", 2, SQLITE_UTF8 | SQLITE_DETERMINISTIC,
                                              nullptr, &sqliteNvl, nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK)
        throw DatabaseError({}, QStringLiteral("Não foi possível registrar a função NVL"),
                            QString::fromUtf8(sqlite3_errmsg(db)));
    sqlite3_busy_timeout(db, m_busyTimeoutMs);
}

void HostDatabase::close()
{
    QSqlDatabase db = database();
    db.close();
}

bool HostDatabase::isOpen() const
{
    return database().isOpen();
}

QString HostDatabase::driverName() const
{
    return database().driverName();
}

QSqlDatabase HostDatabase::database() const
{
    return QSqlDatabase::database(m_connectionName, false);
}

HostDatabase *HostDatabase::current()
{
    return g_current.load();
}

void HostDatabase::setCurrent(HostDatabase *database)
{
    g_current.store(database);
}

} // namespace fis
