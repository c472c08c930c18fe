// fis11000-export: exports the Compra LEGAL files without the screen.
#include "exportcommand/exportcommand.h"
#include "rpc/memorypolicy.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    fis::reuseLargeBlocks();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("fis11000-export"));
    QTextStream out(stdout);
    QTextStream err(stderr);
    if (QCoreApplication::arguments().value(1) == u"--version") {
        out << "fis11000-export " FIS_VERSION "\n";
        return fis::exportcommand::Done;
    }

    fis::exportcommand::ExportOptions options;
    try {
        bool help = false;
        options =
            fis::exportcommand::parseExportOptions(QCoreApplication::arguments().mid(1), &help);
        if (help) {
            out << fis::exportcommand::exportUsage();
            return fis::exportcommand::Done;
        }
    } catch (const fis::exportcommand::OptionsError &e) {
        err << "fis11000-export: " << e.message() << "\n" << fis::exportcommand::exportUsage();
        return fis::exportcommand::BadOptions;
    }
    return fis::exportcommand::runExport(options, out, err, err);
}
