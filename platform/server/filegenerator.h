#pragma once

#include "base/error.h"

#include <QDate>
#include <QString>

namespace fis {

class SqlConnection;

// A fault in the data that the user can put right (a value that does not fit the layout, a
// missing registration): the message, in the users' language, names the invoice or record.
class ExportDataError : public Error
{
public:
    explicit ExportDataError(const QString &message)
        : Error(Kind::Data, message)
    {}
};

// The file of one state registration of an export list.
struct ExportFile
{
    QString fileNumber; // ARQCOMPRALEG.NRSEQARQMAG
    QString listNumber;
    QString company;
    QString stateRegistration;
    QString namePart; // NOMEARQUIVO
    QDate periodStart;
    QDate periodEnd;
};

// Builds every line of the file into its blocks (BLOCOARQCOMPRALEG, see lineblocks.h; lines
// numbered from 1), replacing lines a previous build left, marks the file's invoices as exported
// (keeping their earlier flag in the list for GetDeletaLista) and records the line count in
// ARQCOMPRALEG. Runs inside the caller's write transaction, so that a failure leaves nothing behind
// once the caller rolls back.
//
// Throws ExportDataError for faults in the data, DatabaseError for the database's own.
// Returns the number of lines.
qint64 generateExportFile(SqlConnection &db, const ExportFile &file);

} // namespace fis
