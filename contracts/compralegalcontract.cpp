#include "contracts/compralegalcontract.h"

#include "rpc/rpcerror.h"

namespace fis::compralegal {

namespace {

FieldDef text(const QString &name, int size, const QString &label = {}, bool visible = true)
{
    FieldDef f;
    f.name = name;
    f.type = FieldType::String;
    f.size = size;
    f.label = label;
    f.visible = visible;
    return f;
}

FieldDef number(const QString &name, const QString &label = {}, bool visible = true)
{
    FieldDef f;
    f.name = name;
    f.type = FieldType::Float;
    f.label = label;
    f.visible = visible;
    return f;
}

QString textAt(const QList<RpcValue> &items, qsizetype index, const char *method)
{
    if (index >= items.size())
        return {};
    const RpcValue &v = items.at(index);
    if (v.isNull())
        return {};
    if (!v.isText())
        throw RpcError(RpcError::Kind::Protocol,
                       QStringLiteral("O elemento %1 da resposta de %2 não é um texto.")
                           .arg(index)
                           .arg(QLatin1StringView(method)));
    return v.toText();
}

const QList<RpcValue> &answerArray(const RpcValue &value, const char *method)
{
    if (!value.isArray() || value.size() == 0)
        throw RpcError(RpcError::Kind::Protocol,
                       QStringLiteral("A resposta de %1 não é uma lista de valores.")
                           .arg(QLatin1StringView(method)));
    return value.toArray();
}

} // namespace

QList<FieldDef> notaFiscalFields()
{
    FieldDef status = text(QStringLiteral("IDSTATUS"), 1, {}, false);
    status.type = FieldType::FixedString;
    FieldDef cliente = text(QStringLiteral("CLIENTE"), 73, QStringLiteral("Cliente"));
    cliente.readOnly = true;
    FieldDef emissao;
    emissao.name = QStringLiteral("DTEMISSAO");
    emissao.type = FieldType::DateTime;
    emissao.label = QStringLiteral("Emissão");
    FieldDef valor = number(QStringLiteral("VRNOTAFISC"), QStringLiteral("Valor"));
    valor.readOnly = true;
    valor.displayFormat = QStringLiteral("#,##0.00");
    return {
        text(QStringLiteral("IDENTRSAIDOP"), 1, QStringLiteral("Tipo NF")),
        text(QStringLiteral("IDNFCOMPRALEG"), 1, QStringLiteral("Status")),
        status,
        text(QStringLiteral("CDFILIAL"), 4, QStringLiteral("Filial")),
        cliente,
        text(QStringLiteral("NRLANCTONF"), 10, {}, false),
        emissao,
        text(QStringLiteral("NRNOTAFISC"), 20, QStringLiteral("Nº Nota")),
        valor,
        text(QStringLiteral("CDTIPOOPER"), 2, QStringLiteral("Tp. Operação"), false),
        text(QStringLiteral("CDINSCESTA"), 16, QStringLiteral("Insc. Estadual"), false),
        text(QStringLiteral("CDINSCMUNI"), 16, QStringLiteral("Insc. Municipal"), false),
        text(QStringLiteral("CDSERIE"), 5, QStringLiteral("Série"), false),
        text(QStringLiteral("CDCLIENTE"), 21, {}, false),
    };
}

QList<FieldDef> listaFields()
{
    return {
        text(QStringLiteral("NRLISTA"), 10),
        text(QStringLiteral("CDLISTA"), 50),
        text(QStringLiteral("CDINSCESTA"), 20),
    };
}

QList<FieldDef> arquivosFields()
{
    FieldDef nome = text(QStringLiteral("NOMEARQUIVO"), 16);
    nome.readOnly = true;
    return {text(QStringLiteral("CDINSCESTA"), 16), nome};
}

QList<FieldDef> registrosFields()
{
    return {
        text(QStringLiteral("NRSEQARQMAG"), 10),
        number(QStringLiteral("NRORDREGARQ")),
        text(QStringLiteral("DSREGARQMAG"), 4000),
        number(QStringLiteral("SQUENCIAL")),
    };
}

QList<RpcArg> NotaFiscalRequest::arguments() const
{
    QList<RpcArg> args;
    args.reserve(12);
    args << RpcArg(empresa) << RpcArg(numeroNF) << RpcArg(inscricaoCliente) << RpcArg(filial)
         << RpcArg(inscEstadual) << RpcArg(inscMunicipal);
    args << (codSerie ? byRef(*codSerie) : RpcArg(QString()));
    args << (codTipoOper ? byRef(*codTipoOper) : RpcArg(QString()));
    args << RpcArg(RpcValue(inicio)) << RpcArg(RpcValue(fim));
    args << (statusRef ? byRef(*statusRef) : RpcArg(status));
    args << RpcArg(valorMinimo);
    return args;
}

QByteArray callGetNotaFiscal(AppServer server, const NotaFiscalRequest &request)
{
    const RpcValue answer = server.call(QStringLiteral("GetNotaFiscal"), request.arguments());
    if (!answer.isPacket())
        throw RpcError(RpcError::Kind::Protocol,
                       QStringLiteral("A resposta de GetNotaFiscal não é um pacote de dados."));
    return answer.toPacket();
}

QList<RpcArg> RegistroRequest::arguments()
{
    return {byRef(nmArquivo),         RpcArg(empresa),       RpcArg(imposto),
            RpcArg(RpcValue(inicio)), RpcArg(RpcValue(fim)), byRef(continuacao),
            RpcArg(constante),        byRef(primeiro),       byRef(ultimo),
            RpcArg(inscEstadual),     byRef(ultimoArquivo),  byRef(nrLista)};
}

RegistroAnswer RegistroAnswer::fromValue(const RpcValue &value)
{
    const QList<RpcValue> &items = answerArray(value, "GetRegistro");
    RegistroAnswer a;
    a.status = textAt(items, 0, "GetRegistro");
    if (!a.ok())
        return a;
    if (items.size() != 5 || !items.at(1).isPacket())
        throw RpcError(
            RpcError::Kind::Protocol,
            QStringLiteral(
                "A resposta de GetRegistro não tem cinco elementos com as linhas como tabela."));
    a.lines = items.at(1).toPacket();
    a.diretorio = textAt(items, 2, "GetRegistro");
    a.maisPaginas = textAt(items, 3, "GetRegistro");
    a.continuacao = textAt(items, 4, "GetRegistro");
    return a;
}

DiretorioAnswer DiretorioAnswer::fromValue(const RpcValue &value)
{
    const QList<RpcValue> &items = answerArray(value, "GetDiretorio");
    DiretorioAnswer a;
    a.status = textAt(items, 0, "GetDiretorio");
    a.diretorio = textAt(items, 1, "GetDiretorio");
    return a;
}

} // namespace fis::compralegal
