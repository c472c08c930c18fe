#include "compralegal/exportrun.h"

#include "compralegal/outputname.h"
#include "dataset/datapacket.h"
#include "dataset/memtable.h"
#include "rpc/rpcerror.h"
#include "rpc/rpcvalue.h"
#include "rpcclient/netconnection.h"

#include <QFileInfo>
#include <QSaveFile>
#include <QScopeGuard>
#include <QSet>

#include <cstring>
#include <exception>
#include <utility>

namespace fis::compralegal {

namespace {

const QString kOk = QStringLiteral("OK");
const QString kDirInv = QStringLiteral("Dir_Inv");

QByteArray packetOf(const RpcValue &v, const char *what)
{
    if (!v.isPacket())
        throw RpcError(RpcError::Kind::Protocol,
                       QStringLiteral("%1 não é uma tabela.").arg(QLatin1StringView(what)));
    return v.toPacket();
}

// One output file, written under a temporary name in its directory and moved to its name only
// when complete; dropped unfinished, it leaves no trace and an earlier file at the name intact.
class OutputFile
{
public:
    explicit OutputFile(const QString &path)
        : m_file(path)
    {
        m_file.setDirectWriteFallback(false);
        // Unbuffered: this class gathers the bytes itself, so a write the disk refuses fails in
        // flush() with the system's reason, not later in commit().
        if (!m_file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
            throw ExportRunError(ExportRunError::Kind::File,
                                 QStringLiteral("Não foi possível criar o arquivo %1: %2.")
                                     .arg(path, m_file.errorString()));
    }

    // Appends the DSREGARQMAG of every row of a page, each ended by CR LF, in ISO-8859-1. The
    // bytes go out in chunks, so a page costs the file no second copy of itself in memory. The
    // lines are nearly always ASCII, whose UTF-8 bytes are already the file's.
    void writePage(const MemTable &page)
    {
        constexpr qsizetype kChunk = 1 << 20;
        const int field = page.indexOfField(QStringLiteral("DSREGARQMAG"));
        const int rows = page.recordCount();
        if (m_buffer.capacity() < kChunk + 8192)
            m_buffer.reserve(kChunk + 8192);
        QByteArray scratch;
        for (int row = 0; row < rows; ++row) {
            const QByteArrayView utf8 = page.utf8At(row, field, &scratch);
            ++m_lines;
            if (isAscii(utf8))
                append(utf8);
            else
                appendLatin1(page.valueAt(row, field).toString());
            if (m_buffer.size() >= kChunk)
                flush();
        }
        flush();
    }

    void commit()
    {
        if (!m_file.commit())
            throw writeError();
    }

    qint64 lines() const { return m_lines; }

private:
    static bool isAscii(QByteArrayView bytes)
    {
        for (const char c : bytes)
            if (uchar(c) >= 0x80)
                return false;
        return true;
    }

    void append(QByteArrayView line)
    {
        const qsizetype at = m_buffer.size();
        m_buffer.resize(at + line.size() + 2);
        char *out = m_buffer.data() + at;
        memcpy(out, line.data(), size_t(line.size()));
        out[line.size()] = '\r';
        out[line.size() + 1] = '\n';
    }

    void appendLatin1(const QString &line)
    {
        const char16_t *in = reinterpret_cast<const char16_t *>(line.constData());
        for (qsizetype i = 0; i < line.size(); ++i) {
            if (in[i] > 0xFF)
                throw ExportRunError(
                    ExportRunError::Kind::Encoding,
                    QStringLiteral("A linha %1 do arquivo %2 tem o caractere \"%3\", que a "
                                   "codificação ISO-8859-1 do arquivo não comporta.")
                        .arg(m_lines)
                        .arg(QFileInfo(m_file.fileName()).fileName(), QString(line.at(i))));
        }
        append(line.toLatin1());
    }

    void flush()
    {
        // A short write carries no reason; the write of the rest fails with it (a full disk).
        for (qsizetype done = 0; done < m_buffer.size();) {
            const qint64 n = m_file.write(m_buffer.constData() + done, m_buffer.size() - done);
            if (n <= 0)
                throw writeError();
            done += n;
        }
        m_buffer.resize(0); // keeps its capacity for the next chunk
    }

    ExportRunError writeError() const
    {
        return ExportRunError(ExportRunError::Kind::File,
                              QStringLiteral("Não foi possível gravar o arquivo %1: %2.")
                                  .arg(m_file.fileName(), m_file.errorString()));
    }

    QSaveFile m_file;
    QByteArray m_buffer;
    qint64 m_lines = 0;
};

} // namespace

RunTables::RunTables()
    : notaFiscal(QStringLiteral("cdsNotaFiscal"))
    , lista(QStringLiteral("cdsLista"))
    , arquivos(QStringLiteral("cdsArquivos"))
    , registros(QStringLiteral("cdsRegistros"))
{
    notaFiscal.setFields(notaFiscalFields());
    lista.setFields(listaFields());
    arquivos.setFields(arquivosFields());
    registros.setFields(registrosFields());
}

ExportRun::ExportRun(NetConnection &connection, const ExportRunTables &tables, ExportRunHost &host,
                     QString *baseName)
    : m_connection(connection)
    , m_tables(tables)
    , m_host(host)
    , m_baseName(baseName ? baseName : &m_ownBaseName)
{}

QList<WrittenFile> ExportRun::run(const ExportRunInput &input)
{
    const auto hideWaitAtTheEnd = qScopeGuard([this] { m_host.hideWait(); });
    m_guardFailure.reset();
    m_host.showWait();
    checkDirectory();

    if (!m_tables.lista->isOpen())
        m_tables.lista->createDataSet();
    // Rows of an earlier run that ended early must not reach the server with this one.
    m_tables.lista->emptyDataSet();

    takeListNumber();
    QByteArray marked = collectMarked();
    if (m_tables.lista->isEmpty())
        throw ExportRunError(ExportRunError::Kind::NoInvoiceMarked, QString());

    loadFileList(std::move(marked));
    const int files = m_tables.arquivos->recordCount();
    QList<WrittenFile> written;
    for (int file = 1; file <= files; ++file) {
        written << writeFile(input, file, files);
        m_tables.arquivos->next();
    }
    return written;
}

void ExportRun::checkDirectory()
{
    const DiretorioAnswer answer =
        DiretorioAnswer::fromValue(m_connection.appServer().call(QStringLiteral("GetDiretorio")));
    if (answer.status == kDirInv || !QFileInfo(answer.diretorio).isDir())
        throw ExportRunError(ExportRunError::Kind::DirectoryInvalid, answer.diretorio);
    if (answer.status != kOk)
        throw ExportRunError(ExportRunError::Kind::ServerMessage, answer.status);
}

void ExportRun::takeListNumber()
{
    const RpcValue answer = m_connection.appServer().call(QStringLiteral("GetLista"));
    if (answer.isText())
        m_listNumber = answer.toText();
    else if (answer.isNumber())
        m_listNumber = QString::number(answer.toInteger());
    else
        throw RpcError(RpcError::Kind::Protocol,
                       QStringLiteral("A resposta de GetLista não é o número de uma lista."));
}

namespace {

qsizetype countMarked(const MemTable &notas, int status)
{
    QByteArray scratch;
    qsizetype marked = 0;
    for (int row = 0; row < notas.recordCount(); ++row)
        marked += notas.utf8At(row, status, &scratch) == QByteArrayView(kMarked);
    return marked;
}

void addRowsOf(const MemTable &table, PacketWriter &rows)
{
    for (int row = 0; row < table.recordCount(); ++row)
        for (int field = 0; field < table.fieldCount(); ++field)
            rows.addValue(table.valueAt(row, field));
}

} // namespace

QByteArray ExportRun::collectMarked()
{
    MemTable &notas = *m_tables.notaFiscal;
    MemTable &lista = *m_tables.lista;
    ControlsDisabled suspended(&notas);
    if (!notas.isOpen())
        return {};
    const int status = notas.indexOfField(QStringLiteral("IDSTATUS"));
    const int branch = notas.indexOfField(QStringLiteral("CDFILIAL"));
    const int posting = notas.indexOfField(QStringLiteral("NRLANCTONF"));
    const int registration = notas.indexOfField(QStringLiteral("CDINSCESTA"));
    // To the first row, as the walk goes: a mark still being edited is posted first.
    notas.first();
    // The rows go into a packet that the marked list then loads whole: the same rows as adding
    // them one by one, without an edit per row (a list of 250,000 invoices is marked at once).
    // Written with the table's own fields and row count, it is what the table would save.
    PacketWriter rows(lista.fields(), lista.recordCount() + countMarked(notas, status),
                      lista.name());
    addRowsOf(lista, rows);
    QByteArray scratch;
    const QByteArray listNumber = m_listNumber.toUtf8();
    // The registrations already in the list, folded: a set, since a locate per invoice would
    // make a long list quadratic. The invoice before's, as it came, spares folding a repeat.
    QSet<QString> registrations;
    std::optional<QByteArray> previous;
    QByteArray key;
    while (!notas.eof()) {
        const int at = notas.currentRow();
        if (notas.utf8At(at, status, &scratch) == QByteArrayView(kMarked)) {
            key.truncate(0);
            key.append(notas.utf8At(at, branch, &scratch));
            key.append(notas.utf8At(at, posting, &scratch));
            const QByteArrayView inscricao = notas.utf8At(at, registration, &scratch);
            bool known = previous && *previous == inscricao;
            if (!known) {
                const QString folded = QString::fromUtf8(inscricao).toCaseFolded();
                known = registrations.contains(folded);
                registrations.insert(folded);
                previous = inscricao.toByteArray();
            }
            for (const FieldDef &field : lista.fields()) {
                if (field.name == u"NRLISTA")
                    rows.addUtf8Text(listNumber);
                else if (field.name == u"CDLISTA")
                    rows.addUtf8Text(key);
                else if (field.name == u"CDINSCESTA" && !known && !inscricao.isNull())
                    rows.addUtf8Text(inscricao);
                else
                    rows.addNull();
            }
        }
        notas.next();
    }
    const QByteArray packet = rows.finish();
    lista.loadFromPacket(packet);
    return packet;
}

// `marked` is what cdsLista holds, as collectMarked() wrote it; taken, so that it goes with the
// table.
void ExportRun::loadFileList(QByteArray marked)
{
    const RpcValue answer = m_connection.appServer().call(
        QStringLiteral("getNotasMarcadas"), {RpcValue::fromPacket(std::exchange(marked, {}))});
    m_tables.arquivos->loadFromPacket(packetOf(answer, "A resposta de getNotasMarcadas"));
    m_tables.arquivos->first();
    // The server holds the list now. Its rows would otherwise sit through the first file's
    // pages (some 60 bytes an invoice) only to be emptied when that file is done.
    m_tables.lista->emptyDataSet();
}

WrittenFile ExportRun::writeFile(const ExportRunInput &input, int file, int files)
{
    MemTable &arquivos = *m_tables.arquivos;
    *m_baseName = outputBaseName(input.nomeArquivo);

    ExportProgress progress;
    progress.file = file;
    progress.files = files;
    try {
        RegistroRequest request;
        request.empresa = input.empresa;
        request.imposto = input.imposto;
        request.inicio = input.inicio;
        request.fim = input.fim;
        request.inscEstadual = arquivos.asString(QStringLiteral("CDINSCESTA"));
        request.ultimoArquivo =
            arquivos.recNo() == files ? QStringLiteral("F") : QStringLiteral("I");
        request.primeiro = 0;
        request.ultimo = kPageSize;
        request.nrLista = m_listNumber;
        request.nmArquivo = *m_baseName;
        const WrittenFile result = writePages(request, progress);
        m_tables.lista->emptyDataSet();
        m_host.hideWait();
        m_host.fileWritten(result);
        return result;
    } catch (...) {
        // The failure goes on in any case, after the guard.
        const std::exception_ptr failure = std::current_exception();
        runFailureGuard();
        std::rethrow_exception(failure);
    }
}

WrittenFile ExportRun::writePages(RegistroRequest &request, ExportProgress &progress)
{
    WrittenFile result;
    std::optional<OutputFile> out;
    // Each page is written as soon as it comes, before the invoice list is reloaded, and
    // dropped: the page and the two lists of a reload are then never held at once.
    const auto write = [&](RegistroAnswer &page) {
        if (!out) {
            result.path = outputPath(page);
            progress.fileName = QFileInfo(result.path).fileName();
            out.emplace(result.path);
        }
        m_tables.registros->loadFromPacket(page.lines);
        page.lines.clear();
        out->writePage(*m_tables.registros);
        m_tables.registros->emptyDataSet();
        progress.stage = ExportProgress::Stage::Written;
        progress.lines = out->lines();
        m_host.progress(progress);
    };
    progress.page = 1;
    RegistroAnswer page = fetchPage(request, progress, write);
    // The first page's continuation goes with every later page of the file.
    request.continuacao = page.continuacao;
    m_tables.notaFiscal->first();
    while (page.maisPaginas == kAnotherPage) {
        request.primeiro = request.ultimo + 1;
        request.ultimo = request.ultimo + kPageSize;
        ++progress.page;
        page = fetchPage(request, progress, write);
    }
    out->commit();
    result.lines = out->lines();
    return result;
}

// One GetRegistro call: the by-reference arguments taken back, the page read and, when its
// status is "OK", handed to `write`, the invoice list reloaded, and the status checked, the same
// way for every page. The list is reloaded also when reading or writing the page failed, before
// the failure goes on, as it would be when the page were written after it.
RegistroAnswer ExportRun::fetchPage(RegistroRequest &request, ExportProgress &progress,
                                    const std::function<void(RegistroAnswer &)> &write)
{
    m_host.showWait();
    progress.stage = ExportProgress::Stage::Fetching;
    m_host.progress(progress);
    RpcValue answer =
        m_connection.appServer().call(QStringLiteral("GetRegistro"), request.arguments());
    *m_baseName = request.nmArquivo;
    m_listNumber = request.nrLista;
    std::optional<RegistroAnswer> page;
    std::exception_ptr failure;
    try {
        page = RegistroAnswer::fromValue(std::exchange(answer, RpcValue()));
        if (page->ok())
            write(*page);
    } catch (...) {
        failure = std::current_exception();
    }
    m_host.reloadInvoices();
    if (failure)
        std::rethrow_exception(failure);
    m_host.hideWait();
    if (!page->ok())
        throw ExportRunError(ExportRunError::Kind::ServerMessage, page->status);
    return std::move(*page);
}

// Where the first page says the file goes; refused when its name would leave the directory.
QString ExportRun::outputPath(const RegistroAnswer &first) const
{
    const QString part = m_tables.arquivos->asString(QStringLiteral("NOMEARQUIVO"));
    const QString name = outputFileName(*m_baseName, part);
    if (leavesDirectory(*m_baseName) || leavesDirectory(part))
        throw ExportRunError(ExportRunError::Kind::UnsafeName,
                             QStringLiteral("O nome de arquivo \"%1\" não é válido: ele levaria o "
                                            "arquivo para fora do diretório de destino.")
                                 .arg(name));
    QString directory = first.diretorio;
    if (directory.isEmpty())
        throw ExportRunError(
            ExportRunError::Kind::File,
            QStringLiteral("O servidor não informou o diretório do arquivo %1.").arg(name));
    if (!directory.endsWith(u'/'))
        directory += u'/';
    return directory + name;
}

// The failure guard: the run's list deleted on the server and the marked list emptied. With no
// answer (the connection is gone) the failure that brought us here is the one to show, and the
// list left on the server is never used again; an answer other than "OK" is kept for the
// caller to show after the failure.
void ExportRun::runFailureGuard()
{
    try {
        const RpcValue answer = m_connection.appServer().call(QStringLiteral("GetDeletaLista"),
                                                              {RpcValue(m_listNumber)});
        m_guardFailure = answerFailure(answer, 0);
    } catch (const RpcError &) {
    }
    if (m_tables.lista->isOpen())
        m_tables.lista->emptyDataSet();
    m_host.hideWait();
}

} // namespace fis::compralegal
