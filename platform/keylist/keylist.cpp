#include "keylist/keylist.h"

namespace fis {

QString formatKeyList(const QStringList &keys)
{
    QString text;
    for (const QString &key : keys) {
        if (!text.isEmpty())
            text += u',';
        QString quoted = key;
        quoted.replace(u'\'', QStringLiteral("''"));
        text += u'\'' + quoted + u'\'';
    }
    return text;
}

QStringList parseKeyList(const QString &text, KeyListBlanks blanks)
{
    QStringList keys;
    const qsizetype size = text.size();
    qsizetype pos = 0;
    auto fail = [&](const QString &what) {
        throw KeyListError(
            QStringLiteral("Lista de chaves inválida (posição %1): %2").arg(pos + 1).arg(what));
    };
    const auto skipBlanks = [&] {
        if (blanks == KeyListBlanks::Allowed) {
            while (pos < size && text.at(pos).isSpace())
                ++pos;
        }
    };
    skipBlanks();
    while (pos < size) {
        if (!keys.isEmpty()) {
            if (text.at(pos) != u',')
                fail(QStringLiteral("esperada uma vírgula."));
            ++pos;
            skipBlanks();
        }
        if (pos >= size || text.at(pos) != u'\'')
            fail(QStringLiteral("esperado um apóstrofo de abertura."));
        ++pos;
        QString key;
        bool closed = false;
        while (pos < size) {
            const QChar ch = text.at(pos++);
            if (ch != u'\'') {
                key += ch;
                continue;
            }
            // A doubled quote stands for one quote inside the key; a single one closes it.
            if (pos < size && text.at(pos) == u'\'') {
                key += u'\'';
                ++pos;
                continue;
            }
            closed = true;
            break;
        }
        if (!closed)
            fail(QStringLiteral("falta o apóstrofo de fechamento."));
        keys.append(key);
        skipBlanks();
    }
    return keys;
}

} // namespace fis
