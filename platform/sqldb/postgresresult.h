#pragma once

// libpq's declarations, for the PostgreSQL connection's own files only.

#include <libpq-fe.h>

#include <memory>

namespace fis {

struct PgResultDeleter
{
    void operator()(PGresult *result) const { PQclear(result); }
};
// A result freed when it goes.
using PgResult = std::unique_ptr<PGresult, PgResultDeleter>;

} // namespace fis
