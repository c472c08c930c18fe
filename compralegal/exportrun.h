#pragma once

// The export run without widgets: the marked invoices registered with the application server as
// a numbered list, the files that list yields fetched page by page and written into the
// directory the server names. The screen and the headless export command drive the same class;
// each supplies an ExportRunHost for what it shows and how it reloads the invoice list.

#include "base/error.h"
#include "contracts/compralegalcontract.h"
#include "dataset/memtable.h"

#include <QDate>
#include <QList>
#include <QString>

#include <functional>
#include <optional>
#include <stdexcept>

namespace fis {
class NetConnection;
class RpcValue;
} // namespace fis

namespace fis::compralegal {

// A failure the run itself finds. The message is meant for the user.
class ExportRunError : public Error
{
public:
    enum class Kind {
        DirectoryInvalid, // "Dir_Inv" or no existing directory; the message names the directory
        NoInvoiceMarked,  // nothing marked in the invoice list
        ServerMessage,    // element 0 of GetDiretorio or GetRegistro was not "OK": its text
        UnsafeName,       // a file name that would leave the output directory
        Encoding,         // a line that ISO-8859-1 cannot hold
        File,             // the output file cannot be created, written or completed
    };

    ExportRunError(Kind kind, const QString &message)
        : Error(errorKindOf(kind), message)
        , m_kind(kind)
    {}
    Kind kind() const { return m_kind; }

private:
    static Error::Kind errorKindOf(Kind kind)
    {
        switch (kind) {
        case Kind::DirectoryInvalid:
        case Kind::File:
            return Error::Kind::File;
        case Kind::NoInvoiceMarked:
            return Error::Kind::Input;
        case Kind::ServerMessage:
            return Error::Kind::Server;
        default:
            return Error::Kind::Data;
        }
    }

    Kind m_kind;
};

// Where a run stands, for the wait indicator or a progress line.
struct ExportProgress
{
    enum class Stage { Fetching, Written };
    Stage stage = Stage::Fetching;
    int file = 0;     // 1-based
    int files = 0;    // rows of the file list
    QString fileName; // empty until the first page of the file named it
    int page = 0;     // 1-based page being fetched, or last page written
    qint64 lines = 0; // lines of this file written so far
};

struct WrittenFile
{
    QString path;
    qint64 lines = 0;
};

// What the run needs from the one who drives it.
class ExportRunHost
{
public:
    virtual ~ExportRunHost() = default;
    // The wait indicator with the "Carg_Serv" text, and hiding it (harmless when hidden).
    virtual void showWait() = 0;
    virtual void hideWait() = 0;
    virtual void progress(const ExportProgress &progress) { Q_UNUSED(progress) }
    // Reloads the invoice list from the server (GetNotaFiscal with the filter's criteria, the
    // status by reference, boConfirma set) into the invoice table, and repaints. Throws on
    // failure.
    virtual void reloadInvoices() = 0;
    // A file completed at its final name (before the next file is started).
    virtual void fileWritten(const WrittenFile &file) { Q_UNUSED(file) }
};

// The tables the run works on; the caller owns them. `notaFiscal` is the invoice list (the run
// reads its marks and moves its cursor; the host's reload replaces it); `lista` gets the fields
// of listaFields(), `arquivos` and `registros` are loaded from the server.
struct ExportRunTables
{
    MemTable *notaFiscal = nullptr;
    MemTable *lista = nullptr;
    MemTable *arquivos = nullptr;
    MemTable *registros = nullptr;
};

// The four tables of a run with their fields declared, for a driver without a screen. The
// invoice table starts closed; load it before the run.
class RunTables
{
public:
    RunTables();
    ExportRunTables tables() { return {&notaFiscal, &lista, &arquivos, &registros}; }

    MemTable notaFiscal;
    MemTable lista;
    MemTable arquivos;
    MemTable registros;
};

struct ExportRunInput
{
    QString empresa;     // company code
    QString imposto;     // tax code
    QString nomeArquivo; // the typed output name; the base of the files is the text before "."
    QDate inicio;        // period start
    QDate fim;           // period end
};

class ExportRun
{
public:
    // `baseName`, when given, is the variable that carries the base name (FNmArquivo) through
    // the calls; otherwise the run keeps its own.
    ExportRun(NetConnection &connection, const ExportRunTables &tables, ExportRunHost &host,
              QString *baseName = nullptr);

    // Runs the export. Returns the files written, in the server's order. Any failure throws:
    // the run's own ones (ExportRunError), the server's and the tables' (RpcError,
    // DataSetError) and what the host throws; the run shows nothing itself. A failure inside a
    // file first runs the failure guard (GetDeletaLista with the run's list number, marked list
    // emptied) and then throws the failure; the file in progress is never left at its final
    // name, and files completed earlier stay.
    QList<WrittenFile> run(const ExportRunInput &input);

    // What the failure guard's GetDeletaLista answered when it was not "OK": shown after the
    // failure itself. Empty when the guard did not run, succeeded or got no answer.
    std::optional<QString> guardFailure() const { return m_guardFailure; }

    // The list number GetLista gave this run (and as GetRegistro last left it).
    QString listNumber() const { return m_listNumber; }

private:
    void checkDirectory();
    void takeListNumber();
    QByteArray collectMarked();
    void loadFileList(QByteArray marked);
    WrittenFile writeFile(const ExportRunInput &input, int file, int files);
    WrittenFile writePages(RegistroRequest &request, ExportProgress &progress);
    RegistroAnswer fetchPage(RegistroRequest &request, ExportProgress &progress,
                             const std::function<void(RegistroAnswer &)> &write);
    QString outputPath(const RegistroAnswer &first) const;
    void runFailureGuard();

    NetConnection &m_connection;
    ExportRunTables m_tables;
    ExportRunHost &m_host;
    QString m_ownBaseName;
    QString *m_baseName;
    QString m_listNumber;
    std::optional<QString> m_guardFailure;
};

} // namespace fis::compralegal
