#pragma once

#include "servertestsupport.h"

#include "rpcclient/netconnection.h"

#include <QByteArray>
#include <QDate>
#include <QList>
#include <QString>

namespace fis::test {

// The twelve GetRegistro arguments as the screen keeps them between calls.
struct RegistroCall
{
    QString baseName = QStringLiteral("COMPRA");
    QString company = QStringLiteral("01");
    QString tax = QStringLiteral("01");
    QDate start = QDate(2024, 12, 1);
    QDate end = QDate(2025, 5, 20);
    QString continuation;
    double first = 0;
    double last = 50000;
    QString registration;
    QString lastFile = QStringLiteral("F");
    QString list;
};

// One answer of GetRegistro, its packet decoded.
struct RegistroPage
{
    QString status;
    QList<QString> lines;       // DSREGARQMAG
    QList<qint64> lineNumbers;  // NRORDREGARQ
    QList<QString> fileNumbers; // NRSEQARQMAG
    QString directory;
    QString more;
    QString continuation;
};

RegistroPage getRegistro(NetConnection &connection, RegistroCall &call);

// Pages through a file the way the screen does: bounds 0 and 50000, then last+1 and last+50000.
// Returns every line; *pages gets the number of calls.
QList<QString> fetchFile(NetConnection &connection, RegistroCall call, int *pages = nullptr);

} // namespace fis::test
