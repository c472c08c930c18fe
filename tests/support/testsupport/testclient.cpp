#include "testsupport/testclient.h"

#include "hostfw/hostconfig.h"
#include "rpc/clientauth.h"
#include "rpcclient/netconnection.h"

#include <QFile>
#include <QMutex>
#include <QTemporaryDir>

namespace fis::test {

QString testClientName()
{
    return QStringLiteral("fis-tests");
}

QByteArray testSecret()
{
    return QByteArrayLiteral("tests-only secret 8d1f");
}

QString testSecretEnv()
{
    return QStringLiteral("FIS_TEST_CLIENT_SECRET");
}

QString testClientsFile()
{
    static QMutex mutex;
    static QTemporaryDir dir;
    QMutexLocker lock(&mutex);
    const QString path = dir.filePath(QStringLiteral("clients.ini"));
    if (!QFile::exists(path)) {
        QFile file(path);
        if (file.open(QIODevice::WriteOnly)) {
            const QString verifier =
                ClientVerifier::fromSecret(testSecret(), kMinSecretIterations).toText();
            file.write(
                QStringLiteral("[clients]\n%1 = %2\n").arg(testClientName(), verifier).toUtf8());
        }
    }
    return path;
}

void useTestClient(NetConnection &connection)
{
    connection.setCredentials(testClientName(), testSecret());
}

void useTestClient(HostConfig &config)
{
    qputenv(testSecretEnv().toLatin1().constData(), testSecret());
    config.serverClient = testClientName();
    config.serverSecretEnv = testSecretEnv();
    config.serverSecretFile.clear();
}

} // namespace fis::test
