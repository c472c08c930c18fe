#pragma once

// What a written Compra LEGAL file holds, read back and checked on its own: every line 126
// characters ended by CR LF, the records in their order (10, 11, 50, 54, 75, 90) and the counts
// its records 90 declare equal to the records there are. A benchmark compares the counts with
// what it seeded.

#include "benchsupport/figure.h"

#include <QByteArray>
#include <QDate>
#include <QMap>
#include <QString>
#include <QStringList>

namespace fis::bench {

struct CompraFile
{
    qint64 lines = 0;
    QMap<QByteArray, qint64> records; // per record type ("50", ...)
    QString registration;             // of the record 10
    QDate start, end;                 // the period of the record 10
    Check check;                      // the faults found, each naming the file and line

    qint64 count(const char *type) const { return records.value(QByteArray(type)); }
};

CompraFile readCompraFile(const QString &path);

// The files read one after the other, their counts summed; registration and period are the
// first file's.
CompraFile readCompraFiles(const QStringList &paths);

} // namespace fis::bench
