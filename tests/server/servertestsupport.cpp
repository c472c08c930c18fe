#include "servertestsupport.h"
#include "rpcclient/netconnection.h"

#include "demodata.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryFile>
#include <QTest>
#include <QUuid>

namespace fis::test {

namespace {

QSqlDatabase database(const QString &name)
{
    return QSqlDatabase::database(name, false);
}

} // namespace

TestDatabase::TestDatabase(int invoices, quint64 seed)
{
    if (!m_dir.isValid())
        return;
    try {
        generateDemoDatabase(path(), invoices, seed);
    } catch (const DemoDataError &e) {
        qWarning("demo data: %s", qPrintable(e.message()));
        return;
    }
    QDir(m_dir.path()).mkpath(QStringLiteral("out"));
    m_connection = QUuid::createUuid().toString();
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
    db.setDatabaseName(path());
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=30000"));
    m_ok = db.open();
}

TestDatabase::~TestDatabase()
{
    if (!m_connection.isEmpty()) {
        database(m_connection).close();
        QSqlDatabase::removeDatabase(m_connection);
    }
}

QList<QVariantList> TestDatabase::rows(const QString &sql, const QVariantList &params) const
{
    QSqlQuery q(database(m_connection));
    q.setForwardOnly(true);
    if (!q.prepare(sql))
        qFatal("prepare %s: %s", qPrintable(sql), qPrintable(q.lastError().text()));
    for (const QVariant &p : params)
        q.addBindValue(p);
    if (!q.exec())
        qFatal("exec %s: %s", qPrintable(sql), qPrintable(q.lastError().text()));
    QList<QVariantList> out;
    while (q.next()) {
        QVariantList row;
        for (int i = 0; i < q.record().count(); ++i)
            row.append(q.value(i));
        out.append(row);
    }
    return out;
}

QVariant TestDatabase::value(const QString &sql, const QVariantList &params) const
{
    const QList<QVariantList> r = rows(sql, params);
    return r.isEmpty() ? QVariant() : r.first().value(0);
}

void TestDatabase::exec(const QString &sql, const QVariantList &params) const
{
    rows(sql, params);
}

QByteArray TestDatabase::checksum() const
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    const QList<QVariantList> tables =
        rows(QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name"));
    for (const QVariantList &t : tables) {
        const QString name = t.first().toString();
        hash.addData(name.toUtf8());
        // Ordered by every column, so that the dump does not depend on the storage order.
        const int columns =
            rows(QStringLiteral("SELECT count(*) FROM pragma_table_info(?)"), {name})
                .first()
                .first()
                .toInt();
        QStringList order;
        for (int i = 1; i <= columns; ++i)
            order << QString::number(i);
        for (const QVariantList &row :
             rows(QStringLiteral("SELECT * FROM \"%1\" ORDER BY %2").arg(name, order.join(u','))))
            for (const QVariant &v : row)
                hash.addData(QByteArray(
                    (v.isNull() ? QStringLiteral("<null>") : v.toString()).toUtf8() + '\x1f'));
    }
    return hash.result().toHex();
}

QString serverBinary()
{
    return qEnvironmentVariable("FIS_BIN_DIR") + QStringLiteral("/fis11000-server");
}

ServerProcess::ServerProcess(const QString &database, const QString &outputDir,
                             const QStringList &extraArgs)
{
    QStringList args{QStringLiteral("--port"), QStringLiteral("0")};
    if (!database.isEmpty())
        args << QStringLiteral("--database") << database;
    if (!outputDir.isEmpty())
        args << QStringLiteral("--output-dir") << outputDir;
    args += extraArgs;
    // A file, not a pipe: a test busy in a blocking call reads no pipe, and a full one would
    // stall the server's log writes.
    m_logFile = std::make_unique<QTemporaryFile>();
    m_logFile->open();
    m_process.setStandardErrorFile(m_logFile->fileName());
    m_process.setProgram(serverBinary());
    m_process.setArguments(args);
    m_process.start();
    if (!m_process.waitForStarted(10000))
        return;
    QElapsedTimer clock;
    clock.start();
    QByteArray out;
    static const QRegularExpression listening(QStringLiteral("^listening ([0-9.]+):(\\d+)$"));
    while (clock.elapsed() < 20000 && m_process.state() == QProcess::Running) {
        m_process.waitForReadyRead(200);
        out += m_process.readAllStandardOutput();
        const qsizetype nl = out.indexOf('\n');
        if (nl >= 0) {
            const auto match = listening.match(QString::fromUtf8(out.left(nl)));
            if (match.hasMatch())
                m_port = quint16(match.captured(2).toUInt());
            break;
        }
    }
    if (!m_port)
        qWarning("server did not start: %s", qPrintable(log()));
}

ServerProcess::~ServerProcess()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.terminate();
        if (!m_process.waitForFinished(10000))
            m_process.kill();
        m_process.waitForFinished(5000);
    }
}

int ServerProcess::terminate()
{
    m_process.terminate();
    if (!m_process.waitForFinished(15000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
        return -1;
    }
    return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
}

QString ServerProcess::log()
{
    QFile file(m_logFile->fileName());
    file.open(QIODevice::ReadOnly);
    return QString::fromUtf8(file.readAll());
}

std::unique_ptr<NetConnection> ServerProcess::connect() const
{
    auto c = std::make_unique<NetConnection>();
    c->setServerName(QStringLiteral("FIS11000.rdmCompraLEGALBA"));
    c->setHost(QStringLiteral("127.0.0.1"));
    c->setPort(m_port);
    c->open();
    return c;
}

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

} // namespace fis::test

#include "exporthelpers.h"

namespace fis::test {

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
