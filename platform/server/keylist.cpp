#include "server/keylist.h"

namespace fis {

std::optional<QStringList> parseKeyList(const QString &text)
{
    const qsizetype n = text.size();
    qsizetype i = 0;
    const auto skipBlanks = [&] {
        while (i < n && text.at(i).isSpace())
            ++i;
    };
    skipBlanks();
    if (i == n)
        return std::nullopt;

    QStringList keys;
    const auto malformed = [&](const QString &why) {
        return KeyListError(QStringLiteral("Lista de chaves inválida (%1): %2").arg(why, text));
    };
    while (true) {
        if (text.at(i) != u'\'')
            throw malformed(QStringLiteral("chave sem aspas na posição %1").arg(i + 1));
        ++i;
        QString key;
        bool closed = false;
        while (i < n) {
            const QChar c = text.at(i++);
            if (c != u'\'') {
                key.append(c);
            } else if (i < n && text.at(i) == u'\'') {
                key.append(c);
                ++i;
            } else {
                closed = true;
                break;
            }
        }
        if (!closed)
            throw malformed(QStringLiteral("aspas não fechadas"));
        keys.append(key);
        skipBlanks();
        if (i == n)
            break;
        if (text.at(i) != u',')
            throw malformed(QStringLiteral("falta a vírgula na posição %1").arg(i + 1));
        ++i;
        skipBlanks();
        if (i == n)
            throw malformed(QStringLiteral("vírgula no final"));
    }
    return keys;
}

QString formatKeyList(const QStringList &keys)
{
    QStringList quoted;
    quoted.reserve(keys.size());
    for (const QString &key : keys)
        quoted.append(u'\'' + QString(key).replace(u'\'', QStringLiteral("''")) + u'\'');
    return quoted.join(u',');
}

} // namespace fis
