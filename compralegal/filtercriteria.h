#pragma once

// The filter's criteria as a plain value, and what the screen, the dialog and the headless
// command do with them: the status code of the status item, the GetNotaFiscal request and the
// loading of the invoice list.

#include "contracts/compralegalcontract.h"

#include <QDate>
#include <QString>

#include <optional>

namespace fis {
class MemTable;
}

namespace fis::compralegal {

// What the filter dialog's entries hold (empty texts mean "any"); the key lists of the operation
// types and series travel apart, by reference, since the server may rewrite them.
struct FilterCriteria
{
    QString filial;           // branch code
    QString inscricaoCliente; // client registration, bare digits
    QString inscEstadual;     // state registration
    QString inscMunicipal;    // municipal registration
    QString numeroNF;         // invoice number
    double valorMinimo = 0;   // minimum invoice value
    QDate inicio;             // period start
    QDate fim;                // period end
    // The status code of the chosen status item (statusCode()); none when no item is chosen.
    std::optional<QString> status;
};

// The status code of the dialog's status item: 0 pending "N", 1 exported "S", 2 both "T";
// nothing for an item outside them.
std::optional<QString> statusCode(int item);

// The GetNotaFiscal request of `criteria` for the company `empresa`, the key lists by reference
// into the given variables (which must outlive the call). The status is left for the caller.
NotaFiscalRequest notaFiscalRequest(const QString &empresa, const FilterCriteria &criteria,
                                    QString *codSerie, QString *codTipoOper);

// Calls GetNotaFiscal and replaces the invoice list with its answer. Throws RpcError when the
// call fails or its answer is no data packet, DataSetError when the packet is not a valid
// invoice list; the list is left as it was then.
void loadInvoiceList(AppServer server, const NotaFiscalRequest &request, MemTable &list);

} // namespace fis::compralegal
