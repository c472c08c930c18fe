#include "host/packageloader.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibrary>

namespace fis {

PackageLoader::PackageLoader(const QStringList &searchDirs)
    : m_searchDirs(searchDirs)
{}

PackageLoader::~PackageLoader()
{
    unloadAll();
}

QStringList PackageLoader::defaultSearchDirs()
{
    const QDir app(QCoreApplication::applicationDirPath());
    QStringList dirs = {QDir::cleanPath(app.filePath(QString::fromUtf8(FIS_PKGLIBDIR_FROM_BINDIR))),
                        QDir::cleanPath(app.filePath(QStringLiteral("../lib"))), app.path()};
    dirs.removeDuplicates();
    return dirs;
}

QString PackageLoader::libraryPath(const QString &package) const
{
    for (const QString &dir : m_searchDirs) {
        const QStringList files = {QStringLiteral("lib%1.so").arg(package), package + u".so"};
        for (const QString &file : files) {
            const QFileInfo info(QDir(dir).filePath(file));
            if (info.isFile())
                return info.absoluteFilePath();
        }
    }
    return {};
}

void PackageLoader::load(const QString &package)
{
    if (isLoaded(package))
        return;
    const QString path = libraryPath(package);
    if (path.isEmpty()) {
        throw PackageError(PackageError::Kind::LibraryMissing,
                           QStringLiteral("Pacote %1 não encontrado (procurado em: %2).")
                               .arg(package, m_searchDirs.join(QStringLiteral(", "))));
    }
    auto library = std::make_unique<QLibrary>(path);
    if (!library->load()) {
        throw PackageError(PackageError::Kind::LoadFailed,
                           QStringLiteral("Pacote %1 não pôde ser carregado: %2")
                               .arg(package, library->errorString()));
    }
    m_libraries[package] = std::move(library);
}

bool PackageLoader::isLoaded(const QString &package) const
{
    return m_libraries.find(package) != m_libraries.end();
}

void *PackageLoader::symbol(const QString &package, const QString &name)
{
    load(package);
    QFunctionPointer address = m_libraries.at(package)->resolve(name.toLatin1().constData());
    if (!address) {
        throw PackageError(PackageError::Kind::EntryPointMissing,
                           QStringLiteral("Pacote %1 não exporta %2.").arg(package, name));
    }
    return reinterpret_cast<void *>(address);
}

PackageLoader::Procedure PackageLoader::procedure(const QString &package, const QString &name)
{
    return reinterpret_cast<Procedure>(symbol(package, name));
}

void PackageLoader::unloadAll()
{
    for (auto &[name, library] : m_libraries)
        library->unload();
    m_libraries.clear();
}

} // namespace fis
