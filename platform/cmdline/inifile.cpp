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
        return QStringLiteral("O arquivo de configuração %1 não existe.").arg(path);
    if (info.isDir())
        return QStringLiteral("O arquivo de configuração %1 é um diretório.").arg(path);
    if (!info.isFile())
        return QStringLiteral("O arquivo de configuração %1 não é um arquivo comum.").arg(path);
    if (!info.isReadable())
        return QStringLiteral("O arquivo de configuração %1 não pode ser lido.").arg(path);
    return {};
}

} // namespace fis
