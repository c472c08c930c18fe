#include "sqldb/firebirdconnection.h"
#include "sqldb/postgresconnection.h"
#include "sqldb/sqliteconnection.h"

namespace fis {

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
