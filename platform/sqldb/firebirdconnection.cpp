#include "sqldb/firebirdconnection.h"

namespace fis {

std::unique_ptr<SqlConnection> openFirebirdDatabase(const DatabaseTarget &, const SqlOpenOptions &)
{
    throw DatabaseError(QStringLiteral("O acesso ao Firebird ainda não está disponível."));
}

} // namespace fis
