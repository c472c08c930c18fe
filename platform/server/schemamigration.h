#pragma once

namespace fis {

class SqlConnection;
class SqliteConnection;

// Brings the export tables of a host database made before db/schema/sqlite.sql had them to what
// this server needs. Idempotent, and with nothing to do on a database born from that schema, so
// that it can run at every start of every server process:
// - LISTACOMPRALEG.CDSESSAO, IDSITUACAO, DTATIVIDADE, CDSERVIDOR: the list's owner, state, last
//   activity and server (see exportlists.h). Lists made before have no owner that could go on
//   with them: those whose files were all served become final, the others are undone. The
//   earlier NRSEQARQULT (the file asked for last) tells which served files were delivered, and
//   goes;
// - LISTACOMPRALEGNF.IDNFCOMPRALEGANT: an invoice's exported flag before the list's file marked
//   it, so that undoing the list puts back exactly what was there;
// - the unique index that keeps an invoice on one unfinished list at most, and the lists'
//   indexes by session and by state;
// - SERVCOMPRALEG, the server processes at work on the database;
// - BLOCOARQCOMPRALEG, the lines of the files in blocks (lineblocks.h), in place of
//   REGARQCOMPRALEG, one row per line: lines stored there (an export under way while the server
//   was upgraded) are put into blocks, every line with its number and SQUENCIAL, so that the
//   export goes on; lines of no file go with the table.
// Runs in one write transaction; throws DatabaseError.
void migrateServerSchema(SqliteConnection &db);

// What a server runs at start on any engine: the migration above on SQLite; on PostgreSQL and
// Firebird, whose schemas (db/schema/) are born with everything this server needs, a check that
// the tables, columns and sequences are there, so that a wrong database fails at start with a
// clear message instead of at the first call. Throws DatabaseError.
void prepareServerSchema(SqlConnection &db);

} // namespace fis
