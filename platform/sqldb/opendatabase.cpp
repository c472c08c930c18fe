#include "sqldb/firebirdconnection.h"
#include "sqldb/postgresconnection.h"
#include "sqldb/sqliteconnection.h"

namespace fis {

namespace {

// The server engines' statements: their columns are text, and bytes have no way in.
[[noreturn]] void noBytesHere()
{
    throw DatabaseError(QStringLiteral("Só o SQLite guarda bytes sem convertê-los em texto."));
}

} // namespace

void SqlStatementImpl::bindBytesNoCopy(int, QByteArrayView)
{
    noBytesHere();
}

bool SqlStatementImpl::holdsBytes(int) const
{
    return false;
}

QByteArrayView SqlStatementImpl::bytes(int) const
{
    noBytesHere();
}

std::unique_ptr<SqlConnection> openSqlDatabase(const DatabaseTarget &target,
                                               const SqlOpenOptions &options)
{
    switch (target.engine) {
    case DatabaseEngine::PostgreSql:
        return openPostgresDatabase(target, options);
    case DatabaseEngine::Firebird:
        return openFirebirdDatabase(target, options);
    case DatabaseEngine::Sqlite:
        break;
    }
    return std::make_unique<SqliteConnection>(target.database, options.busyTimeoutMs);
}

} // namespace fis
