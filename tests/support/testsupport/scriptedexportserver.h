#pragma once

// A server speaking the real protocol for the answers of an export run that the real server
// never gives on demand: pages moved by the server, failures in a given file or page, odd
// directories. By default it serves a directory, list "17", the files of `files` and the pages
// of each file's `pages`; a test changes `script` before the run.

#include "contracts/compralegalcontract.h"
#include "dataset/datapacket.h"
#include "rpc/rpcerror.h"
#include "rpcserver/rpcargs.h"
#include "rpcserver/rpcserver.h"

#include <QHash>
#include <QMutex>
#include <QSemaphore>
#include <QThread>

#include <functional>
#include <vector>

namespace fis::test {

struct ScriptedFile
{
    QString inscricao;                     // CDINSCESTA of the file
    QString nome;                          // NOMEARQUIVO
    QList<QStringList> pages;              // the lines of each page
    QString status = QStringLiteral("OK"); // element 0 of the file's first answer
};

struct Script
{
    QString dirStatus = QStringLiteral("OK");
    QString dirPath;   // element 1 of GetDiretorio
    QString outputDir; // element 2 of GetRegistro, as sent
    QString listNumber = QStringLiteral("17");
    QList<ScriptedFile> files;
    // Called for every GetRegistro before the scripted answer, with the file (0-based) and the
    // page (0-based) it serves; may change the by-reference arguments or throw.
    std::function<void(RpcArgs &, int file, int page)> onRegistro;
    QString deleteAnswer = QStringLiteral("OK");
    // The invoice list GetNotaFiscal answers (fields of notaFiscalFields()).
    std::vector<DataRow> notas;
    // Called for every GetNotaFiscal before the answer.
    std::function<void(RpcArgs &)> onNotaFiscal;
};

struct RecordedCall
{
    QString method;
    QList<RpcValue> args;
    QList<qsizetype> byRef;
};

class ScriptedExportServer : public QThread
{
public:
    ScriptedExportServer()
    {
        start();
        m_ready.acquire();
    }
    ~ScriptedExportServer() override
    {
        quit();
        wait();
    }

    quint16 port() const { return m_port; }
    Script script;

    // Names `dir` as the directory of GetDiretorio and of every file.
    void serveInto(const QString &dir)
    {
        script.dirPath = dir;
        script.outputDir = dir;
    }

    QList<RecordedCall> calls() const
    {
        QMutexLocker lock(&m_mutex);
        return m_calls;
    }
    QStringList methods() const
    {
        QStringList names;
        for (const RecordedCall &c : calls())
            names << c.method;
        return names;
    }
    QList<RecordedCall> callsOf(const QString &method) const
    {
        QList<RecordedCall> found;
        for (const RecordedCall &c : calls())
            if (c.method == method)
                found << c;
        return found;
    }
    // Forgets the calls and the pages served, for another run.
    void reset()
    {
        QMutexLocker lock(&m_mutex);
        m_calls.clear();
        m_pageOfFile.clear();
    }
    // Stops listening and drops every client, between calls.
    void dropClients()
    {
        QMetaObject::invokeMethod(
            m_server, [this] { m_server->close(); }, Qt::BlockingQueuedConnection);
    }

protected:
    void run() override;

private:
    void record(const RpcArgs &args)
    {
        QMutexLocker lock(&m_mutex);
        m_calls << RecordedCall{args.method(), args.values(), args.byRef()};
    }

    // Which file a call is for: by its registration; the page from the first record asked.
    RpcValue registro(RpcArgs &args);

    QSemaphore m_ready;
    quint16 m_port = 0;
    RpcServer *m_server = nullptr;
    mutable QMutex m_mutex;
    QList<RecordedCall> m_calls;
    QHash<int, int> m_pageOfFile;
};

} // namespace fis::test
