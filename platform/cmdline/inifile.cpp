#include "cmdline/inifile.h"

#include <QFileInfo>
#include <QSettings>
#include <QStringList>

namespace fis {

QString iniText(const QSettings &ini, const QString &key, const QString &absent)
{
    if (!ini.contains(key))
        return absent;
    const QVariant value = ini.value(key);
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(u',');
    return value.toString();
}

QString configFileProblem(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return QStringLiteral("The configuration file %1 does not exist.").arg(path);
    if (info.isDir())
        return QStringLiteral("The configuration file %1 is a directory.").arg(path);
    if (!info.isFile())
        return QStringLiteral("The configuration file %1 is not a regular file.").arg(path);
    if (!info.isReadable())
        return QStringLiteral("The configuration file %1 cannot be read.").arg(path);
    return {};
}

} // namespace fis
