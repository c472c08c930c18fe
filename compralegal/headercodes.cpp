#include "compralegal/headercodes.h"

#include "hostfw/hosthelpers.h"

namespace fis::compralegal {

CodeCheck checkCode(const QString &typed, int width, const CodeLookup &lookup)
{
    CodeCheck check;
    if (EmptyString(typed))
        return check;
    check.code = Ajusta(typed, width);
    const std::optional<QString> name = lookup(check.code);
    check.outcome = name ? CodeCheck::Outcome::Known : CodeCheck::Outcome::Unknown;
    check.name = name.value_or(QString());
    return check;
}

HeaderEntry firstMissingEntry(const QString &imposto, const QString &empresa,
                              const QString &nomeArquivo)
{
    if (EmptyString(imposto))
        return HeaderEntry::Imposto;
    if (EmptyString(empresa))
        return HeaderEntry::Empresa;
    if (EmptyString(nomeArquivo))
        return HeaderEntry::NomeArquivo;
    return HeaderEntry::None;
}

} // namespace fis::compralegal
