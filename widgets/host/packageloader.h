#pragma once

#include "hostfw/hosterror.h"

#include <QString>
#include <QStringList>

#include <map>
#include <memory>

class QLibrary;

namespace fis {

// A screen package that cannot be used: its library is missing or does not load, or it lacks
// the entry point asked for. The message names the package and, for a missing library, where it
// was looked for.
class PackageError : public HostError
{
public:
    enum class Kind { LibraryMissing, LoadFailed, EntryPointMissing };
    PackageError(Kind kind, const QString &message)
        : HostError(message)
        , m_kind(kind)
    {}
    Kind kind() const { return m_kind; }

private:
    Kind m_kind;
};

// Loads the screen packages (shared libraries named after the package: libPkg_Fis11000.so) from
// a list of folders, each at most once, and finds their exported procedures by plain name.
// Packages stay loaded until unloadAll() or the loader's end; unload only after every window of
// a package is gone, since their code goes with the library.
class PackageLoader
{
public:
    using Procedure = void (*)();

    explicit PackageLoader(const QStringList &searchDirs);
    ~PackageLoader();
    PackageLoader(const PackageLoader &) = delete;
    PackageLoader &operator=(const PackageLoader &) = delete;

    // Where the packages install them (/usr/bin/../lib/fis11000), then build/bin/../lib, where
    // the build puts them, then the executable's own folder.
    static QStringList defaultSearchDirs();

    QStringList searchDirs() const { return m_searchDirs; }
    // The file of the package in the first folder that holds it; empty when none does.
    QString libraryPath(const QString &package) const;
    // Loads the package (once). Throws PackageError (LibraryMissing, LoadFailed).
    void load(const QString &package);
    bool isLoaded(const QString &package) const;
    // Any exported symbol of the package, loading it first; throws as load(), and
    // EntryPointMissing when the symbol is absent.
    void *symbol(const QString &package, const QString &name);
    // An exported procedure without arguments, such as IniProc.
    Procedure procedure(const QString &package, const QString &name);
    void unloadAll();

private:
    QStringList m_searchDirs;
    std::map<QString, std::unique_ptr<QLibrary>> m_libraries;
};

} // namespace fis
