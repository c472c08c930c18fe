#include "integritysupport.h"

#include "hostfw/hostconfig.h"
#include "testsupport/testclient.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>

namespace fis::test {

namespace {

QString key(const QVariant &branch, const QVariant &posting)
{
    return branch.toString() + u':' + posting.toString();
}

// The fields of a record 50 that tell its invoice, with the file's registration in front.
QString identity(const QString &registration, const QString &document, const QString &date,
                 const QString &number)
{
    return registration + u'|' + document + u'|' + date + u'|' + number;
}

} // namespace

Flags exportedFlags(const TestDatabase &db)
{
    Flags flags;
    for (const QVariantList &row :
         db.rows(QStringLiteral("SELECT CDFILIAL, NRLANCTONF, IDNFCOMPRALEG FROM NFCOMPRA")))
        flags.insert(key(row[0], row[1]), row[2].toString());
    return flags;
}

Reported reportedInvoices(const TestDatabase &db, const QString &dir)
{
    // Each invoice as its record 50 writes it: issuer document zero-filled to 14 digits, issue
    // date, the number's last 6 digits.
    QMultiHash<QString, QString> byIdentity;
    for (const QVariantList &row : db.rows(QStringLiteral(
             "SELECT N.CDFILIAL, N.NRLANCTONF, N.CDINSCESTA, coalesce(C.NRINSJURCLIE, ''),"
             " substr(N.DTEMISSAO, 1, 10), N.NRNOTAFISC FROM NFCOMPRA N"
             " LEFT JOIN CLIENTE C ON C.CDCLIENTE = N.CDCLIENTE"))) {
        const QString number = row[5].toString().trimmed();
        byIdentity.insert(identity(row[2].toString().trimmed().toUpper(),
                                   row[3].toString().trimmed().rightJustified(14, u'0'),
                                   row[4].toString().remove(u'-'),
                                   number.right(6).rightJustified(6, u'0')),
                          key(row[0], row[1]));
    }
    Reported reported;
    QDir folder(dir);
    for (const QString &name : folder.entryList({QStringLiteral("*.txt")}, QDir::Files)) {
        QFile file(folder.filePath(name));
        if (!file.open(QIODevice::ReadOnly)) {
            reported.problems << QStringLiteral("%1 cannot be read").arg(name);
            continue;
        }
        QString registration;
        for (const QByteArray &raw : file.readAll().split('\n')) {
            const QByteArray line = raw.endsWith('\r') ? raw.chopped(1) : raw;
            if (line.startsWith("10"))
                registration = QString::fromLatin1(line.mid(16, 14)).trimmed();
            if (!line.startsWith("50"))
                continue;
            ++reported.records50;
            const QString id = identity(registration, QString::fromLatin1(line.mid(2, 14)),
                                        QString::fromLatin1(line.mid(30, 8)),
                                        QString::fromLatin1(line.mid(45, 6)));
            const QList<QString> invoices = byIdentity.values(id);
            if (invoices.size() != 1) {
                reported.problems << QStringLiteral("%1: a record 50 (%2) names %3 invoices")
                                         .arg(name, id)
                                         .arg(invoices.size());
                continue;
            }
            ++reported.invoices[invoices.first()];
        }
    }
    return reported;
}

QStringList flagsAgainstDelivery(const Flags &before, const Flags &now, const Reported &delivered)
{
    QStringList wrong = delivered.problems;
    for (auto it = delivered.invoices.cbegin(); it != delivered.invoices.cend(); ++it)
        if (it.value() > 1)
            wrong << QStringLiteral("%1 reported %2 times").arg(it.key()).arg(it.value());
    for (auto it = before.cbegin(); it != before.cend(); ++it) {
        const QString expected =
            delivered.invoices.contains(it.key()) ? QStringLiteral("S") : it.value();
        const QString actual = now.value(it.key());
        if (actual != expected)
            wrong << QStringLiteral("%1: flag %2, expected %3 (before %4, %5)")
                         .arg(it.key(), actual, expected, it.value(),
                              delivered.invoices.contains(it.key())
                                  ? QStringLiteral("delivered")
                                  : QStringLiteral("not delivered"));
    }
    return wrong;
}

int unsettledLists(const TestDatabase &db)
{
    return db.value(QStringLiteral("SELECT count(*) FROM LISTACOMPRALEG WHERE IDSITUACAO <> 'F'"))
        .toInt();
}

int invoicesOnLists(const TestDatabase &db)
{
    return db.value(QStringLiteral("SELECT count(*) FROM LISTACOMPRALEGNF")).toInt();
}

bool waitUntil(const std::function<bool()> &done, int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > ms)
            return done();
        QThread::msleep(50);
    }
    return true;
}

QString writeHostConfig(const QString &dir, const QString &database, quint16 port)
{
    const QString path = QDir(dir).filePath(QStringLiteral("host-%1.ini").arg(port));
    QFile file(path);
    HostConfig client;
    useTestClient(client);
    if (file.open(QIODevice::WriteOnly))
        file.write("[Database]\nDriver=QSQLITE\nName=" + database.toUtf8() +
                   "\n[Server]\nHost=127.0.0.1\nPort=" + QByteArray::number(port) +
                   "\nClient=" + client.serverClient.toUtf8() +
                   "\nSecretEnv=" + client.serverSecretEnv.toUtf8() + "\n[Host]\nBranch=0001\n");
    return path;
}

ExportCommand::ExportCommand(const QStringList &arguments)
{
    m_process.start(qEnvironmentVariable("FIS_BIN_DIR") + QStringLiteral("/fis11000-export"),
                    arguments);
    m_process.closeWriteChannel();
    m_process.waitForStarted(10000);
}

ExportCommand::~ExportCommand()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

bool ExportCommand::finish(int ms)
{
    const bool ended = m_process.waitForFinished(ms);
    if (!ended) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
    m_exitCode =
        ended && m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
    m_out += QString::fromUtf8(m_process.readAllStandardOutput());
    m_err += QString::fromUtf8(m_process.readAllStandardError());
    return ended;
}

QString ExportCommand::errSoFar()
{
    // Without an event loop the pipe is only read while waiting on it.
    m_process.setReadChannel(QProcess::StandardError);
    m_process.waitForReadyRead(500);
    m_process.setReadChannel(QProcess::StandardOutput);
    m_err += QString::fromUtf8(m_process.readAllStandardError());
    return m_err;
}

} // namespace fis::test
