#include "testsupport/paths.h"

#include <QCoreApplication>
#include <QDir>
#include <QTcpServer>

namespace fis::test {

QString binDir()
{
    const QString dir = qEnvironmentVariable("FIS_BIN_DIR");
    return dir.isEmpty() ? QCoreApplication::applicationDirPath() : dir;
}

QString libDir()
{
    const QString dir = qEnvironmentVariable("FIS_LIB_DIR");
    return dir.isEmpty() ? QDir::cleanPath(binDir() + QStringLiteral("/../lib")) : dir;
}

QString serverBinary()
{
    return binDir() + QStringLiteral("/fis11000-server");
}

int deadPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const int port = probe.serverPort();
    probe.close();
    return port;
}

} // namespace fis::test
