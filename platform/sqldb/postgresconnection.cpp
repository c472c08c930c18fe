#include "sqldb/postgresconnection.h"

namespace fis {

std::unique_ptr<SqlConnection> openPostgresDatabase(const DatabaseTarget &, const SqlOpenOptions &)
{
    throw DatabaseError(QStringLiteral("O acesso ao PostgreSQL ainda não está disponível."));
}

} // namespace fis
