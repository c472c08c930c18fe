#pragma once

namespace fis {

class SqliteConnection;

// Brings the export tables of a host database made before db/schema/sqlite.sql had them to what
// this server needs. Idempotent, and with nothing to do on a database born from that schema, so
// that it can run at every start of every server process:
// - LISTACOMPRALEG.NRSEQARQULT: the file a list's last GetRegistro call asked for, so that
//   GetDeletaLista knows which served file the client may have failed to write;
// - LISTACOMPRALEGNF.IDNFCOMPRALEGANT: an invoice's exported flag before the list's file marked
//   it, so that deleting the list puts back exactly what was there;
// - REGARQCOMPRALEG rebuilt WITHOUT ROWID, so that a page of lines is one sequential range of the
//   table instead of an index walk plus a row lookup per line; its index by list goes, since the
//   lines of a list are reached through the list's files.
// Runs in one write transaction; throws DatabaseError.
void migrateServerSchema(SqliteConnection &db);

} // namespace fis
