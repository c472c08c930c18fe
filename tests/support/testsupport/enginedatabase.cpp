#include "testsupport/enginedatabase.h"

#include "demodata.h"
#include "engineconnection.h"
#include "sqldb/firebirdconnection.h"

#include <QStringList>
#include <QUuid>

namespace fis::test {

namespace {

QString uniqueName()
{
    return QStringLiteral("fis_test_") + QUuid::createUuid().toString(QUuid::Id128);
}

QStringList requiredVariables(DatabaseEngine engine)
{
    const QString prefix =
        engine == DatabaseEngine::Firebird ? QStringLiteral("FIS_FB_") : QStringLiteral("FIS_PG_");
    QStringList names;
    for (const char *suffix : {"HOST", "PORT", "USER", "PASSWORD_FILE"})
        names << prefix + QLatin1String(suffix);
    if (engine == DatabaseEngine::Firebird)
        names << prefix + QStringLiteral("DATA_DIR");
    return names;
}

QString variable(DatabaseEngine engine, const char *suffix)
{
    const QString prefix =
        engine == DatabaseEngine::Firebird ? QStringLiteral("FIS_FB_") : QStringLiteral("FIS_PG_");
    return qEnvironmentVariable((prefix + QLatin1String(suffix)).toLatin1().constData());
}

void createPostgresDatabase(const QString &name, QString *error)
{
    const DatabaseTarget server =
        EngineDatabase::serverTarget(DatabaseEngine::PostgreSql, QStringLiteral("postgres"), error);
    if (!error->isEmpty())
        return;
    EngineConnection db(server);
    db.exec(QStringLiteral("CREATE DATABASE %1").arg(name));
}

void dropPostgresDatabase(const QString &name)
{
    QString error;
    const DatabaseTarget server = EngineDatabase::serverTarget(DatabaseEngine::PostgreSql,
                                                               QStringLiteral("postgres"), &error);
    EngineConnection db(server);
    // FORCE ends a connection a failed test left open.
    db.exec(QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(name));
}

} // namespace

DatabaseTarget EngineDatabase::serverTarget(DatabaseEngine engine, const QString &database,
                                            QString *error)
{
    QStringList missing;
    for (const QString &name : requiredVariables(engine)) {
        if (qEnvironmentVariable(name.toLatin1().constData()).isEmpty())
            missing << name;
    }
    DatabaseTarget target;
    target.engine = engine;
    if (!missing.isEmpty()) {
        *error = QStringLiteral("%1 not set: run the tests on PostgreSQL and Firebird through "
                                "./scripts/test, or start the servers with `scripts/engines start "
                                "DIR && source DIR/engines.env` first")
                     .arg(missing.join(QStringLiteral(", ")));
        return target;
    }
    target.host = variable(engine, "HOST");
    target.port = variable(engine, "PORT").toInt();
    target.user = variable(engine, "USER");
    target.passwordFile = variable(engine, "PASSWORD_FILE");
    target.database = engine == DatabaseEngine::Firebird
                          ? variable(engine, "DATA_DIR") + u'/' + database
                          : database;
    return target;
}

EngineDatabase::EngineDatabase(DatabaseEngine engine)
{
    const QString name = uniqueName();
    m_target = serverTarget(
        engine, engine == DatabaseEngine::Firebird ? name + QStringLiteral(".fdb") : name,
        &m_error);
    if (!m_error.isEmpty())
        return;
    try {
        if (engine == DatabaseEngine::Firebird) {
            createFirebirdDatabase(m_target);
        } else {
            createPostgresDatabase(name, &m_error);
        }
        m_created = m_error.isEmpty();
    } catch (const Error &e) {
        m_error = QStringLiteral("cannot create a test database on %1: %2")
                      .arg(engineName(engine), e.message());
    }
}

EngineDatabase::~EngineDatabase()
{
    if (!m_created)
        return;
    try {
        if (m_target.engine == DatabaseEngine::Firebird)
            dropFirebirdDatabase(m_target);
        else
            dropPostgresDatabase(m_target.database);
    } catch (const Error &e) {
        qWarning("test database %s not dropped: %s", qPrintable(m_target.toString()),
                 qPrintable(e.message()));
    }
}

SeededEngineDatabase::SeededEngineDatabase(DatabaseEngine engine, int invoices, std::uint64_t seed)
    : m_database(engine)
    , m_error(m_database.error())
{
    if (!m_error.isEmpty())
        return;
    try {
        generateDemoDatabase(m_database.target(), invoices, seed);
    } catch (const DemoDataError &e) {
        m_error =
            QStringLiteral("cannot seed %1: %2").arg(m_database.target().toString(), e.message());
    }
}

} // namespace fis::test
