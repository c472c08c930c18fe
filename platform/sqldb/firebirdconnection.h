#pragma once

#include "sqldb/sqldatabase.h"

namespace fis {

// Opens a Firebird database through fbclient. Throws DatabaseError when it cannot.
std::unique_ptr<SqlConnection> openFirebirdDatabase(const DatabaseTarget &target,
                                                    const SqlOpenOptions &options);

} // namespace fis
