#pragma once

#include <QSettings>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

namespace fis {

// The text of an ini key as it was written. QSettings reads an unquoted value holding commas
// as a list, which QVariant::toString() turns into an empty text: the items are joined again
// with commas (blanks around them are lost; quote the value to keep them). `absent` when the
// key is not there.
QString iniText(const QSettings &ini, const QString &key, const QString &absent = {});

// Why `path` cannot be read as a configuration file, in a sentence naming it: missing, a
// directory, no regular file (a FIFO, a device) or unreadable; empty when it can.
QString configFileProblem(const QString &path);

// Several ini files read as one configuration, lowest priority first: a key's value is the one
// of the last file that holds it, so that a user's file overrides the system's key by key.
class IniLayers
{
public:
    explicit IniLayers(const QStringList &paths);

    const QStringList &paths() const { return m_paths; }
    bool contains(const QString &key) const;
    // iniText() of the file the key's value comes from.
    QString text(const QString &key, const QString &absent = {}) const;
    // The file the key's value comes from; the last file when none holds the key, so that
    // messages about a missing key name the file that would override.
    QString fileOf(const QString &key) const;
    // A path value taken relative to the folder of the file that gave it; empty when absent.
    QString path(const QString &key) const;
    // The first file QSettings cannot parse; empty when all can.
    QString malformedFile() const;

private:
    // The index of the last file that holds the key; -1 when none does.
    qsizetype holder(const QString &key) const;

    QStringList m_paths;
    std::vector<std::unique_ptr<QSettings>> m_files;
};

} // namespace fis
