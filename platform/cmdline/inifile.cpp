#include "cmdline/inifile.h"

#include <QDir>
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

IniLayers::IniLayers(const QStringList &paths)
    : m_paths(paths)
{
    for (const QString &p : paths)
        m_files.push_back(std::make_unique<QSettings>(p, QSettings::IniFormat));
}

qsizetype IniLayers::holder(const QString &key) const
{
    for (qsizetype i = qsizetype(m_files.size()) - 1; i >= 0; --i) {
        if (m_files[size_t(i)]->contains(key))
            return i;
    }
    return -1;
}

bool IniLayers::contains(const QString &key) const
{
    return holder(key) >= 0;
}

QString IniLayers::text(const QString &key, const QString &absent) const
{
    const qsizetype i = holder(key);
    return i >= 0 ? iniText(*m_files[size_t(i)], key, absent) : absent;
}

QString IniLayers::fileOf(const QString &key) const
{
    const qsizetype i = holder(key);
    return i >= 0 ? m_paths.at(i) : m_paths.value(m_paths.size() - 1);
}

QString IniLayers::path(const QString &key) const
{
    const QString value = text(key).trimmed();
    if (value.isEmpty() || !QDir::isRelativePath(value))
        return value;
    return QFileInfo(fileOf(key)).absoluteDir().absoluteFilePath(value);
}

QString IniLayers::malformedFile() const
{
    for (size_t i = 0; i < m_files.size(); ++i) {
        if (m_files[i]->status() != QSettings::NoError)
            return m_paths.at(qsizetype(i));
    }
    return {};
}

} // namespace fis
