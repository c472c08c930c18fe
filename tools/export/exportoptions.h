#pragma once

#include "base/error.h"

// The options of fis11000-export: what to export and with which criteria, read from the command
// line over an optional ini file.

#include "hostfw/hostconfig.h"

#include <QDate>
#include <QString>
#include <QStringList>

#include <optional>

namespace fis::exportcommand {

struct ExportOptions
{
    HostConfig host; // database, application server, current branch

    QString imposto;     // --tax
    QString empresa;     // --company
    QString nomeArquivo; // --output: the output name as typed on the screen

    // Criteria, as the filter dialog takes them; empty means "any".
    QString filial;
    QString cliente; // bare digits
    QString inscEstadual;
    QString inscMunicipal;
    QString numeroNF;
    double valorMinimo = 0;
    std::optional<QDate> inicio; // unset: the dialog's default period
    std::optional<QDate> fim;
    QString codTipoOper; // key list, e.g. 'S01','E05'
    QString codSerie;
    QString status = QStringLiteral("N");

    // Which loaded invoices to export: CDFILIAL + NRLANCTONF of each; empty means all.
    QStringList invoices;

    // How long to wait for each answer of the application server.
    int callTimeoutSecs = 600;
};

// Thrown for a bad command line or ini file; the message says what and which option.
class OptionsError : public Error
{
public:
    explicit OptionsError(const QString &message)
        : Error(Kind::Input, message)
    {}
};

// Reads the options (arguments without the program name). The ini file named by --config is
// the host's configuration ([Database], [Server], [Host]) and may hold the export's own keys in
// [export]; options given on the command line override them. Sets *helpWanted for --help.
// Throws OptionsError; ConfigError from reading the host configuration is turned into one.
ExportOptions parseExportOptions(const QStringList &arguments, bool *helpWanted = nullptr);

QString exportUsage();

} // namespace fis::exportcommand
