#pragma once

// A file's invoices put in order on SQLite by one key instead of eight. The eight keys of the
// file's order are SQL expressions (trim, ltrim, length, substr, ||, coalesce, CAST, upper):
// evaluating them took most of the statement that orders a file's invoices, more than sorting
// by them. The function kFileOrderKeyCall names computes them in one call and returns them as
// one BLOB whose byte order is the order of the eight keys, so that the sort compares one value.
//
// It keys only what it reproduces exactly: ASCII text without NUL (where characters and bytes
// are one, and the database's text encoding cannot change the order), and models that are an
// integer or digits with blanks around them. Any other value makes it return NULL for that row
// and count it: the caller then orders the rows by the eight expressions, as before.

#include <QtGlobal>

namespace fis {

class SqliteConnection;

// The file's order on SQLite, over the columns of NFCOMPRA N and CLIENTE C: issue date, invoice
// number as a number, then issuer document, model and series as the record writes them (these
// only separate invoices of different issuers that share date and number), then the invoice's
// key. Numbers are compared by their digits without blanks around them and leading zeros, as
// the records read them, so that no length overflows. The function below computes these same
// keys: the two change together.
inline constexpr char kFileOrderExpressions[] =
    " ORDER BY substr(N.DTEMISSAO, 1, 10), length(ltrim(trim(N.NRNOTAFISC), '0')),"
    " ltrim(trim(N.NRNOTAFISC), '0'),"
    " substr('00000000000000' || coalesce(trim(C.NRINSJURCLIE), ''), -14),"
    " CAST(N.CDMODELONF AS INTEGER), upper(coalesce(N.CDSERIE, '')), N.CDFILIAL, N.NRLANCTONF";

// The call of the function over the same columns, for an ORDER BY.
inline constexpr char kFileOrderKeyCall[] =
    "fis_file_order_key(N.DTEMISSAO, N.NRNOTAFISC, C.NRINSJURCLIE, N.CDMODELONF, N.CDSERIE,"
    " N.CDFILIAL, N.NRLANCTONF)";

// The function, on one connection for the object's lifetime.
class FileOrderKey
{
public:
    // Throws DatabaseError when SQLite refuses the function.
    explicit FileOrderKey(SqliteConnection &db);
    ~FileOrderKey();
    Q_DISABLE_COPY_MOVE(FileOrderKey)

    // Whether the key orders as the expressions do: not where the invoice's key columns, which
    // the expressions compare by the columns' own collation, declare another than BINARY.
    bool usable() const { return m_usable; }
    // Rows the function could not key since it was registered.
    qint64 unkeyed() const { return m_unkeyed; }

private:
    SqliteConnection &m_db;
    bool m_usable = false;
    qint64 m_unkeyed = 0;
};

} // namespace fis
