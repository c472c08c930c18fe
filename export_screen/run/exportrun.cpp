#include "export_screen/run/exportrun.h"

#include "dataset/memtable.h"
#include "rpc/netconnection.h"
#include "rpc/rpcerror.h"
#include "rpc/rpcvalue.h"

#include <QFileInfo>
#include <QSaveFile>
#include <QSet>

#include <exception>

namespace fis::compralegal {

namespace {

const QString kOk = QStringLiteral("OK");
const QString kDirInv = QStringLiteral("Dir_Inv");
const QString kMorePages = QStringLiteral("S");

// Element `index` of an answer array, or a protocol error naming the method.
const RpcValue &element(const RpcValue &answer, qsizetype index, const char *method)
{
    if (!answer.isArray() || answer.size() <= index)
        throw RpcError(RpcError::Kind::Protocol,
                       QStringLiteral("A resposta de %1 não tem o elemento %2.")
                           .arg(QLatin1StringView(method))
                           .arg(index));
    return answer.toArray().at(index);
}

QString textElement(const RpcValue &answer, qsizetype index, const char *method)
{
    const RpcValue &v = element(answer, index, method);
    if (v.isNull())
        return {};
    if (!v.isText())
        throw RpcError(RpcError::Kind::Protocol,
                       QStringLiteral("O elemento %1 da resposta de %2 não é um texto.")
                           .arg(index)
                           .arg(QLatin1StringView(method)));
    return v.toText();
}

QByteArray packetOf(const RpcValue &v, const char *what)
{
    if (!v.isPacket())
        throw RpcError(RpcError::Kind::Protocol,
                       QStringLiteral("%1 não é uma tabela.").arg(QLatin1StringView(what)));
    return v.toPacket();
}

// Whether a name part could place the file anywhere but in the output directory.
bool leavesDirectory(const QString &part)
{
    return part.contains(u'/') || part.contains(u'\\') || part.contains(QChar(u'\0')) ||
           part.contains(QStringLiteral(".."));
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
    // bytes go out in chunks, so a page costs the file no second copy of itself in memory.
    void writePage(const MemTable &page)
    {
        constexpr qsizetype kChunk = 1 << 20;
        const int field = page.indexOfField(QStringLiteral("DSREGARQMAG"));
        const int rows = page.recordCount();
        if (m_buffer.capacity() < kChunk + 8192)
            m_buffer.reserve(kChunk + 8192);
        for (int row = 0; row < rows; ++row) {
            const QString line = page.valueAt(row, field).toString();
            ++m_lines;
            const qsizetype at = m_buffer.size();
            m_buffer.resize(at + line.size() + 2);
            char *out = m_buffer.data() + at;
            const char16_t *in = reinterpret_cast<const char16_t *>(line.constData());
            for (qsizetype i = 0; i < line.size(); ++i) {
                if (in[i] > 0xFF)
                    throw ExportRunError(
                        ExportRunError::Kind::Encoding,
                        QStringLiteral("A linha %1 do arquivo %2 tem o caractere \"%3\", que a "
                                       "codificação ISO-8859-1 do arquivo não comporta.")
                            .arg(m_lines)
                            .arg(QFileInfo(m_file.fileName()).fileName(), QString(line.at(i))));
                out[i] = char(in[i]);
            }
            out[line.size()] = '\r';
            out[line.size() + 1] = '\n';
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

QString outputBaseName(const QString &typed)
{
    const qsizetype dot = typed.indexOf(u'.');
    return dot < 0 ? typed : typed.left(dot);
}

// Hides the wait indicator on every end of the run.
class ExportRun::Guard
{
public:
    explicit Guard(ExportRunHost &host)
        : m_host(host)
    {}
    ~Guard() { m_host.hideWait(); }
    Guard(const Guard &) = delete;
    Guard &operator=(const Guard &) = delete;

private:
    ExportRunHost &m_host;
};

ExportRun::ExportRun(NetConnection &connection, const ExportRunTables &tables, ExportRunHost &host,
                     QString *baseName)
    : m_connection(connection)
    , m_tables(tables)
    , m_host(host)
    , m_baseName(baseName ? baseName : &m_ownBaseName)
{}

void ExportRun::fail(ExportRunError::Kind kind, const QString &message)
{
    const ExportRunError error(kind, message);
    m_host.report(error);
    throw error;
}

QList<WrittenFile> ExportRun::run(const ExportRunInput &input)
{
    Guard hideWaitAtTheEnd(m_host);
    m_host.showWait();
    checkDirectory();

    if (!m_tables.lista->isOpen())
        m_tables.lista->createDataSet();
    // Rows of an earlier run that ended early must not reach the server with this one.
    m_tables.lista->emptyDataSet();

    takeListNumber();
    collectMarked();
    if (m_tables.lista->isEmpty())
        fail(ExportRunError::Kind::NoInvoiceMarked, QString());

    loadFileList();
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
        fail(ExportRunError::Kind::DirectoryInvalid, answer.diretorio);
    if (answer.status != kOk)
        fail(ExportRunError::Kind::ServerMessage, answer.status);
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

void ExportRun::collectMarked()
{
    MemTable &notas = *m_tables.notaFiscal;
    MemTable &lista = *m_tables.lista;
    ControlsDisabled suspended(&notas);
    if (!notas.isOpen())
        return;
    // The registrations already in the list, folded: a set, since a locate per invoice would
    // make a long list quadratic.
    QSet<QString> registrations;
    notas.first();
    while (!notas.eof()) {
        if (notas.asString(QStringLiteral("IDSTATUS")) == kMarked) {
            const QString inscricao = notas.asString(QStringLiteral("CDINSCESTA"));
            const bool known = registrations.contains(inscricao.toCaseFolded());
            lista.append();
            lista.setValue(QStringLiteral("NRLISTA"), m_listNumber);
            lista.setValue(QStringLiteral("CDLISTA"),
                           QString(notas.asString(QStringLiteral("CDFILIAL")) +
                                   notas.asString(QStringLiteral("NRLANCTONF"))));
            lista.setValue(QStringLiteral("CDINSCESTA"), known ? QString() : inscricao);
            lista.post();
            registrations.insert(inscricao.toCaseFolded());
        }
        notas.next();
    }
}

void ExportRun::loadFileList()
{
    const RpcValue answer = m_connection.appServer().call(
        QStringLiteral("getNotasMarcadas"), {RpcValue::fromPacket(m_tables.lista->saveToPacket())});
    m_tables.arquivos->loadFromPacket(packetOf(answer, "A resposta de getNotasMarcadas"));
    m_tables.arquivos->first();
}

WrittenFile ExportRun::writeFile(const ExportRunInput &input, int file, int files)
{
    MemTable &arquivos = *m_tables.arquivos;
    QString &baseName = *m_baseName;
    baseName = outputBaseName(input.nomeArquivo);

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
        request.nmArquivo = baseName;

        m_host.showWait();
        progress.page = 1;
        m_host.progress(progress);
        RegistroAnswer first;
        {
            const RpcValue answer =
                m_connection.appServer().call(QStringLiteral("GetRegistro"), request.arguments());
            baseName = request.nmArquivo;
            m_listNumber = request.nrLista;
            m_host.reloadInvoices();
            first = RegistroAnswer::fromValue(answer);
        }
        request.continuacao = first.continuacao;
        QString more = first.maisPaginas;
        m_host.hideWait();
        m_tables.notaFiscal->first();
        if (!first.ok())
            fail(ExportRunError::Kind::ServerMessage, first.status);

        const QString part = arquivos.asString(QStringLiteral("NOMEARQUIVO"));
        const QString name = baseName + u'_' + part + u'_' + QStringLiteral(".txt");
        if (leavesDirectory(baseName) || leavesDirectory(part))
            fail(ExportRunError::Kind::UnsafeName,
                 QStringLiteral("O nome de arquivo \"%1\" não é válido: ele levaria o arquivo "
                                "para fora do diretório de destino.")
                     .arg(name));
        QString directory = first.diretorio;
        if (directory.isEmpty())
            fail(ExportRunError::Kind::File,
                 QStringLiteral("O servidor não informou o diretório do arquivo %1.").arg(name));
        if (!directory.endsWith(u'/'))
            directory += u'/';

        WrittenFile result;
        result.path = directory + name;
        progress.fileName = name;
        OutputFile out(result.path);
        m_tables.registros->loadFromPacket(first.lines);
        first.lines.clear();
        out.writePage(*m_tables.registros);
        progress.stage = ExportProgress::Stage::Written;
        progress.lines = out.lines();
        m_host.progress(progress);

        while (more == kMorePages) {
            request.primeiro = request.ultimo + 1;
            request.ultimo = request.ultimo + kPageSize;
            m_tables.registros->emptyDataSet();
            m_host.showWait();
            progress.stage = ExportProgress::Stage::Fetching;
            ++progress.page;
            m_host.progress(progress);
            {
                const RpcValue answer = m_connection.appServer().call(QStringLiteral("GetRegistro"),
                                                                      request.arguments());
                baseName = request.nmArquivo;
                m_listNumber = request.nrLista;
                m_host.reloadInvoices();
                m_host.hideWait();
                m_tables.registros->loadFromPacket(
                    packetOf(element(answer, 1, "GetRegistro"), "O elemento 1 de GetRegistro"));
                more = textElement(answer, 3, "GetRegistro");
            }
            out.writePage(*m_tables.registros);
            progress.stage = ExportProgress::Stage::Written;
            progress.lines = out.lines();
            m_host.progress(progress);
        }

        out.commit();
        result.lines = out.lines();
        m_tables.lista->emptyDataSet();
        m_host.hideWait();
        m_host.fileWritten(result);
        return result;
    } catch (...) {
        // The failure guard. The failure goes on in any case; an error in the guard's answer
        // ends it at once, as the host decides.
        const std::exception_ptr failure = std::current_exception();
        RpcValue answer;
        bool answered = false;
        try {
            answer = m_connection.appServer().call(QStringLiteral("GetDeletaLista"),
                                                   {RpcValue(m_listNumber)});
            answered = true;
        } catch (const RpcError &) {
            // No answer (the connection is gone): the failure that brought us here is the one
            // to show; the list left on the server is never used again.
        }
        if (answered)
            m_host.checkDeleteAnswer(answer);
        if (m_tables.lista->isOpen())
            m_tables.lista->emptyDataSet();
        m_host.hideWait();
        std::rethrow_exception(failure);
    }
}

} // namespace fis::compralegal
