#pragma once

// The names of the server object, its methods and the tables' fields (`cdsNotaFiscal`,
// `IDSTATUS`, `GetRegistro`, ...) are those under which the screen and the server have always
// known them; everything else follows the Qt naming of the project.

#include "dataset/memtable.h"
#include "rpc/appserver.h"
#include "rpc/rpcvalue.h"

#include <QDate>
#include <QList>
#include <QString>

namespace fis::compralegal {

// The application server object that serves the module.
inline QString serverObjectName()
{
    return QStringLiteral("FIS11000.rdmCompraLEGALBA");
}

// Marks of the invoice list.
inline constexpr QLatin1StringView kMarked("C");
inline constexpr QLatin1StringView kUnmarked("U");
inline constexpr QLatin1StringView kExported("S");
// IDNFCOMPRALEG of an invoice not exported yet, as GetNotaFiscal lists it.
inline constexpr QLatin1StringView kNotExported("N");

// Status codes of the invoice request: pending, exported, both.
inline constexpr QLatin1StringView kStatusPending("N");
inline constexpr QLatin1StringView kStatusExported("S");
inline constexpr QLatin1StringView kStatusBoth("T");

// Page bounds of GetRegistro: the first page asks for records 0 to 50000, and each follow-up
// page for the next 50000 after the last record the previous call left.
inline constexpr double kPageSize = 50000;

// GetRegistro's more-pages mark (element 3 of its answer): another page follows, or this one
// was the file's last.
inline constexpr QLatin1StringView kAnotherPage("S");
inline constexpr QLatin1StringView kLastPage("N");

// The fields of the tables that travel between the screen and the server, in their order.
QList<FieldDef> notaFiscalFields(); // cdsNotaFiscal: the invoice list
QList<FieldDef> listaFields();      // cdsLista: the marked list sent to getNotasMarcadas
QList<FieldDef> arquivosFields();   // cdsArquivos: the files getNotasMarcadas answers
QList<FieldDef> registrosFields();  // cdsRegistros: one page of file lines from GetRegistro

// The twelve arguments of GetNotaFiscal, in their order. The key lists (and, in the export
// run, the status) go by reference: the caller's variables receive what the server leaves.
struct NotaFiscalRequest
{
    QString empresa;                // 1 company code
    QString numeroNF;               // 2 invoice number
    QString inscricaoCliente;       // 3 client registration number, digits only
    QString filial;                 // 4 branch code
    QString inscEstadual;           // 5 state registration
    QString inscMunicipal;          // 6 municipal registration
    QString *codSerie = nullptr;    // 7 series keys, by reference
    QString *codTipoOper = nullptr; // 8 operation-type keys, by reference
    QDate inicio;                   // 9 period start
    QDate fim;                      // 10 period end
    QString status;                 // 11 status code, by value ...
    QString *statusRef = nullptr;   // ... or by reference when set
    double valorMinimo = 0;         // 12 minimum invoice value

    // The argument list of the call. The referenced variables must outlive the call.
    QList<RpcArg> arguments() const;
};

// Calls GetNotaFiscal and returns the packet of the invoice list. Throws RpcError when the call
// fails or the answer is not a data packet.
QByteArray callGetNotaFiscal(AppServer server, const NotaFiscalRequest &request);

// The twelve arguments of GetRegistro, six of them by reference: the server may change them and
// the run goes on with what it leaves.
struct RegistroRequest
{
    QString nmArquivo;   // 1 file base name, by reference
    QString empresa;     // 2 company code
    QString imposto;     // 3 tax code
    QDate inicio;        // 4 period start
    QDate fim;           // 5 period end
    QString continuacao; // 6 continuation text, by reference; empty on a file's first page
    QString constante = QStringLiteral("S"); // 7
    double primeiro = 0;                     // 8 first record of the page, by reference
    double ultimo = kPageSize;               // 9 last record of the page, by reference
    QString inscEstadual;                    // 10 state registration of the file
    QString ultimoArquivo;                   // 11 "F" on the last file, "I" before it, by reference
    QString nrLista;                         // 12 list number, by reference

    // The argument list of the call; the by-reference ones point into this request.
    QList<RpcArg> arguments();
};

// The answer of GetRegistro: [status, lines packet, directory, more-pages mark, continuation].
struct RegistroAnswer
{
    QString status;      // "OK" or the error text to show
    QByteArray lines;    // packet of cdsRegistros; empty when status is not "OK"
    QString diretorio;   // output directory
    QString maisPaginas; // "S" when another page follows
    QString continuacao; // continuation text

    bool ok() const { return status == QLatin1String("OK"); }
    // Reads an answer; throws RpcError(Protocol) for one of another shape. An answer whose
    // element 0 is not "OK" may leave out the rest.
    static RegistroAnswer fromValue(const RpcValue &value);
};

// The answer of GetDiretorio: [status, directory].
struct DiretorioAnswer
{
    QString status;
    QString diretorio;
    static DiretorioAnswer fromValue(const RpcValue &value);
};

} // namespace fis::compralegal
