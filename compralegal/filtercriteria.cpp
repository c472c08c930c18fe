#include "compralegal/filtercriteria.h"

#include "dataset/memtable.h"

namespace fis::compralegal {

std::optional<QString> statusCode(int item)
{
    switch (item) {
    case 0:
        return QString(kStatusPending);
    case 1:
        return QString(kStatusExported);
    case 2:
        return QString(kStatusBoth);
    default:
        return std::nullopt;
    }
}

NotaFiscalRequest notaFiscalRequest(const QString &empresa, const FilterCriteria &criteria,
                                    QString *codSerie, QString *codTipoOper)
{
    NotaFiscalRequest request;
    request.empresa = empresa;
    request.numeroNF = criteria.numeroNF;
    request.inscricaoCliente = criteria.inscricaoCliente;
    request.filial = criteria.filial;
    request.inscEstadual = criteria.inscEstadual;
    request.inscMunicipal = criteria.inscMunicipal;
    request.codSerie = codSerie;
    request.codTipoOper = codTipoOper;
    request.inicio = criteria.inicio;
    request.fim = criteria.fim;
    request.valorMinimo = criteria.valorMinimo;
    return request;
}

void loadInvoiceList(AppServer server, const NotaFiscalRequest &request, MemTable &list)
{
    list.loadFromPacket(callGetNotaFiscal(server, request));
}

} // namespace fis::compralegal
