#include "compralegal/outputname.h"

namespace fis::compralegal {

QString refusedNameCharacters()
{
    return QStringLiteral("*\\/#!?@$%&+,");
}

bool isRefusedInName(QChar c)
{
    return refusedNameCharacters().contains(c);
}

QString outputBaseName(const QString &typed)
{
    const qsizetype dot = typed.indexOf(u'.');
    return dot < 0 ? typed : typed.left(dot);
}

QString outputFileName(const QString &baseName, const QString &part)
{
    return baseName + u'_' + part + QStringLiteral("_.txt");
}

bool leavesDirectory(const QString &part)
{
    return part.contains(u'/') || part.contains(u'\\') || part.contains(QChar(u'\0')) ||
           part.contains(QStringLiteral(".."));
}

} // namespace fis::compralegal
