#pragma once

#include "server/compralegalstore.h"

#include <QDate>
#include <QString>
#include <QStringList>

#include <deque>
#include <optional>
#include <vector>

namespace fis {

class DataSetError;
class RpcArgs;

// Reading and checking the arguments of the server's methods, before any database work. Each
// reader throws RpcError, with the text the caller gets as the call's error, for arguments of
// the wrong kind or count and for the faults its comment names.

// GetNotaFiscal's twelve arguments. Key lists must be in the picker's format (blanks around the
// keys tolerated); the status must be N, S or T (any case, blanks around it tolerated); a
// minimum, when given, must be finite.
InvoiceCriteria readNotaFiscalArgs(const RpcArgs &args);

// The marked list (cdsLista) of getNotasMarcadas.
struct MarkedList
{
    QString list; // NRLISTA, trimmed
    // CDLISTA of each row, UTF-8, viewing `packet` (or `pieces`, for a key the packet sent in
    // pieces): a list of 250,000 invoices is read without a value made per cell. In their
    // bytes' order, the order of the list's indexes.
    std::vector<QByteArrayView> keys;
    // The row each of `keys` came in, when they did not come in their order; empty when they did.
    std::vector<quint32> rowOfKey;
    // The keys in the rows' order.
    std::vector<QByteArrayView> keysAsSent() const;
    QByteArray packet;
    std::deque<QByteArray> pieces;
};

// getNotasMarcadas' packet: at least one row, every row of one list number, no key blank and
// none twice.
MarkedList readNotasMarcadasArgs(const RpcArgs &args);

// GetRegistro's twelve arguments, texts trimmed.
struct RegistroArgs
{
    QString company;
    QString tax;
    QDate start; // invalid when null
    QDate end;
    QString continuation; // empty on a file's first page
    double first = 0;
    double last = 0;
    QString registration;
    QString list;
};

// GetRegistro's arguments; the page bounds must be finite.
RegistroArgs readRegistroArgs(const RpcArgs &args);

// What a file's first page answers in element 0 before anything is read: no list number, no
// period or one that ends before it starts. Unset when the arguments allow the file.
std::optional<QString> firstPageRefusal(const RegistroArgs &request);

// The lines a page of GetRegistro holds, numbered from 1.
struct PageRange
{
    qint64 from = 1;
    qint64 to = 0;
    bool adjusted = false; // `to` is not what was asked: the caller learns where to go on from
};

// The page that starts at `first`: `pageSize` lines, whatever `last` asked for, since the caller
// goes on from the last line the answer gives back. A range asked empty stays empty.
PageRange pageRange(double first, double last, qint64 pageSize);

// The call error for a data packet that cannot be read or written.
[[noreturn]] void packetError(const DataSetError &e);

} // namespace fis
