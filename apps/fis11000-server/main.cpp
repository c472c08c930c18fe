// fis11000-server: serves the object FIS11000.rdmCompraLEGALBA over TCP.
#include "rpc/clientauth.h"
#include "rpc/memorypolicy.h"
#include "server/appserver.h"
#include "server/serverconfig.h"
#include "server/servicenotify.h"
#include "sqldb/sqliteconnection.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTextStream>

#include <csignal>
#include <cstdio>
#include <optional>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int g_signalPipe[2] = {-1, -1};

// --hash-secret [ROUNDS]: the verifier of the secret on standard input's first line, for a
// clients file; the secret itself is never stored.
int hashSecret(const QStringList &args)
{
    bool ok = true;
    const int rounds = args.size() > 1 ? args[1].toInt(&ok) : fis::kDefaultSecretIterations;
    if (!ok || rounds < fis::kMinSecretIterations) {
        std::fprintf(stderr, "fis11000-server: --hash-secret takes a number of rounds from %d\n",
                     fis::kMinSecretIterations);
        return 2;
    }
    QTextStream in(stdin);
    const QString secret = in.readLine();
    if (secret.isEmpty()) {
        std::fputs("fis11000-server: no secret on standard input\n", stderr);
        return 2;
    }
    const QByteArray line =
        fis::ClientVerifier::fromSecret(secret.toUtf8(), rounds).toText().toUtf8() + '\n';
    std::fputs(line.constData(), stdout);
    return 0;
}

// Reads the command line into `config`; the exit status when the server is not to start:
// --version, --hash-secret, --help, or a configuration that cannot be used.
std::optional<int> readCommandLine(const QStringList &arguments, fis::ServerConfig *config)
{
    if (arguments.value(1) == u"--version") {
        std::puts("fis11000-server " FIS_VERSION);
        return 0;
    }
    if (arguments.value(1) == u"--hash-secret")
        return hashSecret(arguments.mid(1));
    try {
        bool help = false;
        *config = fis::parseServerConfig(arguments.mid(1), &help);
        if (help) {
            std::fputs(fis::serverUsage().toUtf8().constData(), stdout);
            return 0;
        }
    } catch (const fis::ConfigError &e) {
        std::fprintf(stderr, "fis11000-server: %s\n%s", qPrintable(e.message()),
                     qPrintable(fis::serverUsage()));
        return 2;
    }
    return std::nullopt;
}

// Only write() is safe in a signal handler; the event loop reads the pipe and quits.
void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &byte, 1);
}

} // namespace

int main(int argc, char *argv[])
{
    fis::reuseLargeBlocks();
    fis::leaveOutSqliteMemoryStatistics();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("fis11000-server"));

    fis::ServerConfig config;
    if (const std::optional<int> status = readCommandLine(QCoreApplication::arguments(), &config))
        return *status;

    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) != 0) {
        std::perror("fis11000-server: socketpair");
        return 1;
    }
    QSocketNotifier notifier(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, &app, [] {
        char byte;
        [[maybe_unused]] const ssize_t n = ::read(g_signalPipe[0], &byte, 1);
        fis::logServerLine(QStringLiteral("signal received; shutting down"));
        QCoreApplication::quit();
    });
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    fis::ApplicationServer server(config);
    if (!server.start()) {
        std::fprintf(stderr, "fis11000-server: %s\n", qPrintable(server.errorString()));
        return 1;
    }
    // Scripts and tests read the chosen port from this line.
    std::printf("listening %s:%u\n", qPrintable(server.listenAddress()), unsigned(server.port()));
    std::fflush(stdout);
    fis::logServerLine(QStringLiteral("serving %1 with %2 workers, database %3, output %4")
                           .arg(QStringLiteral("FIS11000.rdmCompraLEGALBA"))
                           .arg(config.workers)
                           .arg(config.target().toString(), config.outputDirectoryWithSlash()));
    fis::notifyServiceManager(QStringLiteral("READY=1\nSTATUS=listening on %1:%2")
                                  .arg(server.listenAddress())
                                  .arg(server.port())
                                  .toUtf8());

    const int rc = QCoreApplication::exec();
    fis::notifyServiceManager("STOPPING=1");
    server.stop();
    fis::logServerLine(QStringLiteral("stopped"));
    return rc;
}
