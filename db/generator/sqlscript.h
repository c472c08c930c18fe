#pragma once

#include <QString>
#include <QStringList>

namespace fis {

// A schema script cut into its statements, as the engines' own command-line tools read it: a
// statement ends at the terminator (";") outside quotes and comments, and an isql line
// `SET TERM X ;` changes the terminator (for the PSQL bodies of the Firebird script) without being
// a statement itself. Each statement keeps the comments before it; empty ones are dropped.
QStringList splitSqlScript(const QString &script);

// The statement without the blanks and comments in front of it.
QString withoutLeadingComments(const QString &sql);

// CREATE INDEX or CREATE UNIQUE INDEX: built after a bulk load.
bool isCreateIndex(const QString &statement);

// The name a CREATE TABLE, CREATE SEQUENCE, CREATE FUNCTION or CREATE PROCEDURE statement
// creates, upper-case; empty for any other statement. *kind gets "TABLE", "SEQUENCE", ...
QString createdObject(const QString &statement, QString *kind = nullptr);

} // namespace fis
