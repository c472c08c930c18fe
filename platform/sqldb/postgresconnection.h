#pragma once

#include "sqldb/sqldatabase.h"

namespace fis {

// Opens a PostgreSQL database through libpq. Throws DatabaseError when it cannot.
std::unique_ptr<SqlConnection> openPostgresDatabase(const DatabaseTarget &target,
                                                    const SqlOpenOptions &options);

} // namespace fis
