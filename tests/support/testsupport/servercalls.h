#pragma once

// The server's methods called as the client calls them, and the packets they take.

#include "dataset/datapacket.h"
#include "rpc/rpcerror.h"
#include "rpcclient/netconnection.h"

#include <QByteArray>
#include <QDate>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <functional>

namespace fis::test {

// The text of the RpcError that `f` raises; empty when it raises none.
inline QString rpcErrorOf(const std::function<void()> &f)
{
    try {
        f();
    } catch (const RpcError &e) {
        return e.message();
    }
    return {};
}

// The twelve arguments of GetNotaFiscal, defaulting to "company 01, everything".
struct NotaFilter
{
    QString company = QStringLiteral("01");
    QString number;
    QString client;
    QString branch;
    QString stateReg;
    QString municipalReg;
    QString series;
    QString operations;
    QDate start = QDate(2024, 1, 1);
    QDate end = QDate(2026, 1, 1);
    QString status = QStringLiteral("T");
    double minimum = 0;
};

// Calls GetNotaFiscal (series and operations by reference, written back into the filter).
DataPacket getNotaFiscal(NetConnection &connection, NotaFilter &filter);

// A text field of `size` characters.
FieldDef textField(const char *name, int size);

// The index of a field in a decoded packet, or -1.
int fieldIndex(const DataPacket &packet, const QString &name);

// The data packet of cdsLista for the invoices given as (branch, posting) pairs.
QByteArray listaPacket(const QString &list, const QList<QPair<QString, QString>> &invoices,
                       const QStringList &registrations);

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
    QList<qint64> sequences;    // SQUENCIAL
    QString directory;
    QString more;
    QString continuation;
};

RegistroPage getRegistro(NetConnection &connection, RegistroCall &call);

// Pages through a file the way the screen does: bounds 0 and 50000, then last+1 and last+50000.
// Returns every line; *pages gets the number of calls.
QList<QString> fetchFile(NetConnection &connection, RegistroCall call, int *pages = nullptr);

} // namespace fis::test
