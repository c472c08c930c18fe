#pragma once

// `TMessages` and `Msg` keep the names under which the screen modules use the host's message
// tables; everything else follows the Qt naming of the project.

#include <QHash>
#include <QString>
#include <QStringList>

namespace fis {

// A window's message table: texts by key, given as lines "key|text" as the form data holds
// them. The key ends at the first "|"; the text may hold more of them. Keys are compared
// exactly, case included.
class TMessages
{
public:
    TMessages() = default;
    // Throws HostError for a line without "|", an empty key or a key given twice. Blank lines
    // are skipped.
    explicit TMessages(const QStringList &lines);

    void addLine(const QString &line); // as above, for one line
    bool contains(const QString &key) const { return m_texts.contains(key); }
    int count() const { return int(m_texts.size()); }

    // The text of a key. An unknown key throws HostError naming it: a message that silently
    // came out empty would leave the user before an empty error box.
    QString Msg(const QString &key) const;

private:
    QHash<QString, QString> m_texts;
};

} // namespace fis
