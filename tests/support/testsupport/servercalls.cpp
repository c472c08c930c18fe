#include "testsupport/servercalls.h"
#include "rpcclient/netconnection.h"

namespace fis::test {

DataPacket getNotaFiscal(NetConnection &connection, NotaFilter &f)
{
    const RpcValue answer = connection.call(QStringLiteral("GetNotaFiscal"),
                                            {f.company, f.number, f.client, f.branch, f.stateReg,
                                             f.municipalReg, byRef(f.series), byRef(f.operations),
                                             f.start, f.end, f.status, f.minimum});
    return decodePacket(answer.toPacket());
}

FieldDef textField(const char *name, int size)
{
    FieldDef f;
    f.name = QString::fromLatin1(name);
    f.type = FieldType::String;
    f.size = size;
    return f;
}

int fieldIndex(const DataPacket &packet, const QString &name)
{
    for (int i = 0; i < packet.fields.size(); ++i)
        if (packet.fields.at(i).name == name)
            return i;
    return -1;
}

QByteArray listaPacket(const QString &list, const QList<QPair<QString, QString>> &invoices,
                       const QStringList &registrations)
{
    const QList<FieldDef> fields = {textField("NRLISTA", 10), textField("CDLISTA", 50),
                                    textField("CDINSCESTA", 20)};
    std::vector<DataRow> rows;
    QStringList seen;
    for (qsizetype i = 0; i < invoices.size(); ++i) {
        const QString reg = registrations.value(i);
        const bool firstOfReg = !seen.contains(reg, Qt::CaseInsensitive);
        seen << reg;
        const QString key = invoices.at(i).first + invoices.at(i).second;
        rows.push_back(DataRow{list, key, firstOfReg ? reg : QString()});
    }
    return encodePacket(fields, rows);
}

RegistroPage getRegistro(NetConnection &connection, RegistroCall &c)
{
    const RpcValue answer = connection.call(
        QStringLiteral("GetRegistro"),
        {byRef(c.baseName), c.company, c.tax, c.start, c.end, byRef(c.continuation), "S",
         byRef(c.first), byRef(c.last), c.registration, byRef(c.lastFile), byRef(c.list)});
    RegistroPage page;
    if (answer.size() != 5)
        qFatal("GetRegistro answered %lld elements", qlonglong(answer.size()));
    page.status = answer.at(0).toText();
    const DataPacket p = decodePacket(answer.at(1).toPacket());
    for (const DataRow &row : p.rows) {
        page.fileNumbers << row.at(0).toString();
        page.lineNumbers << qint64(row.at(1).toDouble());
        page.lines << row.at(2).toString();
        page.sequences << qint64(row.at(3).toDouble());
    }
    page.directory = answer.at(2).toText();
    page.more = answer.at(3).toText();
    page.continuation = answer.at(4).toText();
    return page;
}

QList<QString> fetchFile(NetConnection &connection, RegistroCall call, int *pages)
{
    call.continuation.clear();
    call.first = 0;
    call.last = 50000;
    RegistroPage page = getRegistro(connection, call);
    QList<QString> lines = page.lines;
    int count = 1;
    if (page.status != u"OK")
        qWarning("GetRegistro: %s", qPrintable(page.status));
    call.continuation = page.continuation;
    while (page.status == u"OK" && page.more == u"S") {
        call.first = call.last + 1;
        call.last = call.last + 50000;
        page = getRegistro(connection, call);
        lines += page.lines;
        ++count;
    }
    if (pages)
        *pages = count;
    return lines;
}

} // namespace fis::test
