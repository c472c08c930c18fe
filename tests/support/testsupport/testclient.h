#pragma once

#include <QByteArray>
#include <QString>

namespace fis {
class NetConnection;
struct HostConfig;
} // namespace fis

namespace fis::test {

// The client every test's server knows (ServerProcess passes its clients file by default), with
// a secret of few rounds so that connections stay quick.
QString testClientName();
QByteArray testSecret();
// The clients file naming it, written once per test program.
QString testClientsFile();
// The environment variable the secret is in, set in this process (and so in the programs it
// starts).
QString testSecretEnv();

// Makes the connection, or the host's configuration, prove the test client's secret.
void useTestClient(NetConnection &connection);
void useTestClient(HostConfig &config);

} // namespace fis::test
