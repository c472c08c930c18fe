#include "hostfw/messages.h"

#include "hostfw/hosterror.h"

namespace fis {

TMessages::TMessages(const QStringList &lines)
{
    for (const QString &line : lines)
        addLine(line);
}

void TMessages::addLine(const QString &line)
{
    if (line.trimmed().isEmpty())
        return;
    const qsizetype bar = line.indexOf(u'|');
    if (bar < 0)
        throw HostError(
            QStringLiteral("The message line \"%1\" has no \"|\" between key and text.").arg(line));
    const QString key = line.left(bar).trimmed();
    if (key.isEmpty())
        throw HostError(QStringLiteral("The message line \"%1\" has no key.").arg(line));
    if (m_texts.contains(key))
        throw HostError(QStringLiteral("The message key \"%1\" is given twice.").arg(key));
    m_texts.insert(key, line.mid(bar + 1));
}

QString TMessages::Msg(const QString &key) const
{
    const auto it = m_texts.constFind(key);
    if (it == m_texts.constEnd())
        throw HostError(QStringLiteral("The message key \"%1\" is not in the table.").arg(key));
    return *it;
}

} // namespace fis
