// fis-host: the host application; loads the screen packages and shows their screens.
#include "host/hostrun.h"
#include "rpc/memorypolicy.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    fis::reuseLargeBlocks();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("fis-host"));
    return fis::runHost(QApplication::arguments().mid(1));
}
