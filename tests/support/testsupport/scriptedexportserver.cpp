#include "testsupport/scriptedexportserver.h"

#include "contracts/compralegalcontract.h"
#include "dataset/datapacket.h"
#include "rpc/rpcerror.h"

namespace fis::test {

void ScriptedExportServer::run()
{
    RpcServer server;
    m_server = &server;
    const QString object = compralegal::serverObjectName();
    const auto add = [&](const char *method, RpcHandler handler) {
        server.registerMethod(object, QString::fromLatin1(method), [this, handler](RpcArgs &args) {
            record(args);
            return handler(args);
        });
    };
    add("GetDiretorio", [this](RpcArgs &) {
        return RpcValue(QList<RpcValue>{script.dirStatus, script.dirPath});
    });
    add("GetLista", [this](RpcArgs &) { return RpcValue(script.listNumber); });
    add("getNotasMarcadas", [this](RpcArgs &) {
        std::vector<DataRow> rows;
        for (const ScriptedFile &f : script.files)
            rows.push_back({f.inscricao, f.nome});
        return RpcValue::fromPacket(encodePacket(compralegal::arquivosFields(), rows));
    });
    add("GetRegistro", [this](RpcArgs &args) { return registro(args); });
    add("GetNotaFiscal", [this](RpcArgs &args) {
        if (script.onNotaFiscal)
            script.onNotaFiscal(args);
        return RpcValue::fromPacket(encodePacket(compralegal::notaFiscalFields(), script.notas));
    });
    add("GetDeletaLista", [this](RpcArgs &) { return RpcValue(script.deleteAnswer); });
    server.listen(QHostAddress::LocalHost, 0);
    m_port = server.serverPort();
    m_ready.release();
    exec();
    m_server = nullptr;
}

RpcValue ScriptedExportServer::registro(RpcArgs &args)
{
    const QString inscricao = args.text(9);
    int file = 0;
    while (file < script.files.size() && script.files.at(file).inscricao != inscricao)
        ++file;
    if (file == script.files.size())
        throw RpcError(QStringLiteral("Arquivo desconhecido."));
    const ScriptedFile &f = script.files.at(file);
    int page = 0;
    {
        QMutexLocker lock(&m_mutex);
        page = m_pageOfFile.value(file, 0);
        m_pageOfFile[file] = page + 1;
    }
    if (script.onRegistro)
        script.onRegistro(args, file, page);
    if (page == 0 && f.status != QLatin1String("OK"))
        return RpcValue(QList<RpcValue>{f.status});
    std::vector<DataRow> rows;
    const QStringList lines = page < f.pages.size() ? f.pages.at(page) : QStringList();
    double order = 0;
    for (const QString &line : lines)
        rows.push_back({QStringLiteral("1"), ++order, line, order});
    const bool more = page + 1 < f.pages.size();
    return RpcValue(
        QList<RpcValue>{QStringLiteral("OK"),
                        RpcValue::fromPacket(encodePacket(compralegal::registrosFields(), rows)),
                        script.outputDir, more ? QStringLiteral("S") : QStringLiteral("N"),
                        QStringLiteral("cont-%1-%2").arg(file).arg(page)});
}

} // namespace fis::test
