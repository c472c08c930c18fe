#pragma once

#include "sqldb/sqldatabase.h"

namespace fis {

// Firebird 3 through fbclient, with the interface's contract (sqldatabase.h) and these
// engine-specific points:
//
// - The connection attaches to DatabaseTarget::firebirdConnectString() with UTF-8 as its
//   character set and SQL dialect 3.
// - Outside begin() each statement runs in a read committed transaction of its own, committed
//   at once (a query: once its rows run out, or at reset()).
// - begin(Write) locks the one row (ID 1) of the table TRAVACOMPRALEG (ID INTEGER NOT NULL
//   PRIMARY KEY), which every writer locks: writers follow one another as SQLite's BEGIN
//   IMMEDIATE makes them, each waiting up to SqlOpenOptions::busyTimeoutMs. Without that table
//   (or its row) begin(Write) fails. begin(Read) is a read-only snapshot.
// - A CHAR column reads as Firebird stores it, padded with spaces to its length ('A' in a
//   CHAR(3) reads 'A  '), where SQLite keeps the text as written. VARCHAR is unpadded.
// - A bound text longer than what Firebird describes for the parameter fails (string right
//   truncation): `CDCOL = ?1` on a VARCHAR(10) column takes at most 10 characters.
// - A statement's text is one statement (no scripts), at most 64 KB. Texts bound or read are at
//   most 32765 bytes (VARCHAR); BLOB columns are not read.

// Opens a Firebird database through fbclient. Throws DatabaseError when it cannot (its message
// names DatabaseTarget::toString() and gives Firebird's text, never the password), ConfigError
// when the password cannot be read.
std::unique_ptr<SqlConnection> openFirebirdDatabase(const DatabaseTarget &target,
                                                    const SqlOpenOptions &options);

// Creates the target's database file on its server: 16 KB pages, SQL dialect 3, UTF8 as the
// default character set, forced writes (a synced write of every changed page) as asked; a bulk
// load runs several times faster without them. Throws DatabaseError when it cannot (the file
// exists, the server refuses the folder); the password appears in no message.
void createFirebirdDatabase(const DatabaseTarget &target, bool forcedWrites = true);

// Turns the database's forced writes on or off. Throws DatabaseError.
void setFirebirdForcedWrites(const DatabaseTarget &target, bool on);

// Removes the target's database file; nobody may be attached to it. False when there was no such
// file; throws DatabaseError for anything else (a refused login, a database in use, no server).
bool dropFirebirdDatabase(const DatabaseTarget &target);

} // namespace fis
