#pragma once

#include "base/databasetarget.h"

namespace fis {

// Creates the Firebird database of a firebird:// target through its server: page size 16384,
// default character set UTF8, SQL dialect 3, forced writes off for the bulk load that follows
// (setFirebirdForcedWrites turns them on). An existing database there is dropped first.
// Throws DemoDataError with the server's message when either fails; the password is read from
// the target and appears in no message.
void createFirebirdDatabase(const DatabaseTarget &target);

// Turns the database's forced writes (a synced write of every changed page) on or off.
void setFirebirdForcedWrites(const DatabaseTarget &target, bool on);

// Drops the Firebird database of the target; false when there was none to drop. Throws
// DemoDataError for anything else (a refused login, a database still in use, no server).
bool dropFirebirdDatabase(const DatabaseTarget &target);

} // namespace fis
