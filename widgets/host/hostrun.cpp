#include "host/hostrun.h"

#include "host/hostmainwindow.h"
#include "host/hostoptions.h"
#include "host/packageloader.h"
#include "host/screenregistry.h"
#include "hostfw/hostconfig.h"
#include "hostfw/hostdatabase.h"
#include "hostfw/widgets/useraction.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QTimer>

#include <cstdio>
#include <memory>
#include <optional>

namespace fis {

namespace {

void printLine(FILE *stream, const QString &text)
{
    std::fprintf(stream, "%s\n", text.toUtf8().constData());
    std::fflush(stream);
}

void complain(const QString &text)
{
    printLine(stderr, QStringLiteral("fis-host: ") + text);
}

// In report mode nothing may wait for a click: messages go to standard output as they come.
class ConsolePresenter : public MessagePresenter
{
public:
    void showError(QWidget *, const QString &text) override
    {
        printLine(stdout, QStringLiteral("error: ") + text);
    }
    void showInformation(QWidget *, const QString &text) override
    {
        printLine(stdout, QStringLiteral("information: ") + text);
    }
};

void printReport(HostMainWindow &window)
{
    const QList<QMdiSubWindow *> children = window.mdiArea()->subWindowList();
    int shown = 0;
    for (const QMdiSubWindow *child : children)
        shown += child->isVisible() ? 1 : 0;
    printLine(stdout, QStringLiteral("windows: %1").arg(shown));
    for (const QMdiSubWindow *child : children) {
        const QWidget *form = child->widget();
        if (!child->isVisible() || !form)
            continue;
        QStringList state;
        if (child == window.mdiArea()->currentSubWindow())
            state << QStringLiteral("current");
        if (child->isMinimized())
            state << QStringLiteral("minimized");
        printLine(stdout, QStringLiteral("window: %1|%2|%3x%4|%5")
                              .arg(form->windowTitle(), form->objectName())
                              .arg(form->width())
                              .arg(form->height())
                              .arg(state.join(u',')));
    }
    printLine(stdout, QStringLiteral("menu: ") + window.menuTitles().join(u'|'));
    const QWidget *focus = QApplication::focusWidget();
    printLine(stdout, QStringLiteral("focus: ") + (focus ? focus->objectName() : QString()));
}

// Returns the exit status when the host is not to start: a wrong command line, or --help.
std::optional<int> readOptions(const QStringList &arguments, HostOptions *options)
{
    try {
        *options = HostOptions::parse(arguments);
    } catch (const Error &e) {
        complain(e.message());
        std::fputs(HostOptions::usage().toUtf8().constData(), stderr);
        return ExitUsage;
    }
    if (options->help) {
        std::fputs(HostOptions::usage().toUtf8().constData(), stdout);
        return ExitOk;
    }
    if (options->version) {
        printLine(stdout, QString::fromUtf8("fis-host " FIS_VERSION));
        return ExitOk;
    }
    return std::nullopt;
}

// The screen --open asks for (nullptr without --open); false when there is no such screen.
bool findRequestedScreen(const HostOptions &options, const ScreenEntry **screen)
{
    *screen = nullptr;
    if (options.openScreen.isEmpty())
        return true;
    *screen = findScreen(options.openScreen);
    if (!*screen) {
        complain(QStringLiteral("Tela %1 desconhecida.").arg(options.openScreen));
        return false;
    }
    return true;
}

// Loads the configuration and makes it the current one; false when it cannot be read.
bool loadConfig(const HostOptions &options, HostConfig *config)
{
    try {
        *config = options.configPath.isEmpty() ? HostConfig::load(HostConfig::defaultFiles())
                                               : HostConfig::load(options.configPath);
    } catch (const Error &e) {
        complain(e.message());
        return false;
    }
    HostConfig::setCurrent(*config);
    return true;
}

// nullptr when the database cannot be opened, which has then been told.
std::unique_ptr<HostDatabase> openDatabase(const HostConfig &config, bool reportAndQuit)
{
    std::unique_ptr<HostDatabase> database;
    try {
        database = std::make_unique<HostDatabase>(config);
        database->open();
    } catch (const Error &e) {
        complain(e.message());
        if (!reportAndQuit)
            messagePresenter().showError(nullptr, e.message());
        return nullptr;
    }
    return database;
}

// Checked before any window shows: a host asked to open a screen it cannot open ends.
bool canOpenScreen(PackageLoader &packages, const ScreenEntry *screen)
{
    if (!screen)
        return true;
    try {
        packages.procedure(screen->package, screen->entryPoint);
    } catch (const PackageError &e) {
        complain(e.message());
        return false;
    }
    return true;
}

// Reports once the window is active and the screens had their first activation, then closes it.
void reportWhenSettled(HostMainWindow &window)
{
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    auto *poll = new QTimer(&window);
    QObject::connect(poll, &QTimer::timeout, &window, [&window, clock, poll]() {
        if (clock->elapsed() < 300 || (!window.isActiveWindow() && clock->elapsed() < 5000))
            return;
        if (QApplication::activeModalWidget())
            return; // a dialog still open; the console presenter never blocks
        poll->stop();
        printReport(window);
        window.close();
    });
    poll->start(50);
}

int runMainWindow(PackageLoader &packages, const ScreenEntry *screen, bool reportAndQuit)
{
    HostMainWindow window(packages);
    window.show();
    if (screen) {
        const QString code = screen->code;
        QTimer::singleShot(0, &window, [&window, code]() { window.openScreenAction(code); });
    }
    if (reportAndQuit)
        reportWhenSettled(window);
    const int status = QApplication::exec();
    if (reportAndQuit)
        setMessagePresenter(nullptr);
    return status;
}

} // namespace

int runHost(const QStringList &arguments)
{
    HostOptions options;
    if (const std::optional<int> status = readOptions(arguments, &options))
        return *status;
    const ScreenEntry *screen = nullptr;
    if (!findRequestedScreen(options, &screen))
        return ExitUsage;

    ConsolePresenter console;
    if (options.reportAndQuit)
        setMessagePresenter(&console);

    HostConfig config;
    if (!loadConfig(options, &config))
        return ExitUsage;
    const std::unique_ptr<HostDatabase> database = openDatabase(config, options.reportAndQuit);
    if (!database)
        return ExitStartFailed;
    HostDatabase::setCurrent(database.get());

    PackageLoader packages(options.packageDirs.isEmpty() ? PackageLoader::defaultSearchDirs()
                                                         : options.packageDirs);
    if (!canOpenScreen(packages, screen))
        return ExitPackageMissing;
    const int status = runMainWindow(packages, screen, options.reportAndQuit);
    // The windows are gone: the packages' code may go too.
    packages.unloadAll();
    HostDatabase::setCurrent(nullptr);
    return status;
}

} // namespace fis
