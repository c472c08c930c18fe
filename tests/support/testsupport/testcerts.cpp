#include "testsupport/testcerts.h"

#include <QDir>
#include <QFile>
#include <QMutex>
#include <QProcess>
#include <QSslCertificate>
#include <QTemporaryDir>

namespace fis::test {

namespace {

bool openssl(const QString &dir, const QStringList &args)
{
    QProcess p;
    p.setWorkingDirectory(dir);
    p.start(QStringLiteral("openssl"), args);
    if (!p.waitForFinished(30000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        qWarning("openssl %s failed: %s", qPrintable(args.join(u' ')),
                 p.readAllStandardError().constData());
        return false;
    }
    return true;
}

QStringList newKeyAndRequest(const QString &key, const QString &subject)
{
    return {QStringLiteral("req"),
            QStringLiteral("-newkey"),
            QStringLiteral("ec"),
            QStringLiteral("-pkeyopt"),
            QStringLiteral("ec_paramgen_curve:prime256v1"),
            QStringLiteral("-nodes"),
            QStringLiteral("-keyout"),
            key,
            QStringLiteral("-subj"),
            subject};
}

TestCertificates make(const QString &dir)
{
    TestCertificates c;
    const QDir d(dir);
    c.ca = d.filePath(QStringLiteral("ca.pem"));
    c.serverCertificate = d.filePath(QStringLiteral("server.pem"));
    c.serverKey = d.filePath(QStringLiteral("server.key"));
    c.otherCa = d.filePath(QStringLiteral("other-ca.pem"));
    const QString ext = d.filePath(QStringLiteral("server.ext"));
    {
        QFile f(ext);
        if (!f.open(QIODevice::WriteOnly))
            return c;
        f.write("subjectAltName=IP:127.0.0.1,DNS:localhost\n");
    }
    const QStringList days{QStringLiteral("-days"), QStringLiteral("30")};
    c.ok =
        openssl(dir, newKeyAndRequest(QStringLiteral("ca.key"), QStringLiteral("/CN=fis test CA")) +
                         QStringList{QStringLiteral("-x509"), QStringLiteral("-out"), c.ca} +
                         days) &&
        openssl(dir,
                newKeyAndRequest(QStringLiteral("other-ca.key"), QStringLiteral("/CN=another CA")) +
                    QStringList{QStringLiteral("-x509"), QStringLiteral("-out"), c.otherCa} +
                    days) &&
        openssl(dir, newKeyAndRequest(c.serverKey, QStringLiteral("/CN=127.0.0.1")) +
                         QStringList{QStringLiteral("-out"), QStringLiteral("server.csr")}) &&
        openssl(dir,
                QStringList{QStringLiteral("x509"), QStringLiteral("-req"), QStringLiteral("-in"),
                            QStringLiteral("server.csr"), QStringLiteral("-CA"), c.ca,
                            QStringLiteral("-CAkey"), QStringLiteral("ca.key"),
                            QStringLiteral("-CAcreateserial"), QStringLiteral("-out"),
                            c.serverCertificate, QStringLiteral("-extfile"), ext} +
                    days);
    if (c.ok) {
        const QList<QSslCertificate> certs = QSslCertificate::fromPath(c.serverCertificate);
        c.ok = !certs.isEmpty();
        if (c.ok)
            c.fingerprint =
                QString::fromLatin1(certs.first().digest(QCryptographicHash::Sha256).toHex());
        QFile::setPermissions(c.serverKey, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    }
    return c;
}

} // namespace

const TestCertificates &testCertificates()
{
    static QMutex mutex;
    static QTemporaryDir dir;
    static TestCertificates made;
    static bool tried = false;
    QMutexLocker lock(&mutex);
    if (!tried) {
        tried = true;
        made = make(dir.path());
    }
    return made;
}

} // namespace fis::test
