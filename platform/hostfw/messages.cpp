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
            QStringLiteral("A linha de mensagem \"%1\" não tem \"|\" entre a chave e o texto.")
                .arg(line));
    const QString key = line.left(bar).trimmed();
    if (key.isEmpty())
        throw HostError(QStringLiteral("A linha de mensagem \"%1\" não tem chave.").arg(line));
    if (m_texts.contains(key))
        throw HostError(
            QStringLiteral("A chave de mensagem \"%1\" foi informada duas vezes.").arg(key));
    m_texts.insert(key, line.mid(bar + 1));
}

QString TMessages::Msg(const QString &key) const
{
    const auto it = m_texts.constFind(key);
    if (it == m_texts.constEnd())
        throw HostError(QStringLiteral("A chave de mensagem \"%1\" não está na tabela.").arg(key));
    return *it;
}

} // namespace fis
