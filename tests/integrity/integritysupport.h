#pragma once

#include "testsupport/testdatabase.h"

#include <QMap>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

namespace fis::test {

// Invoice ("BBBB:NNNNNNNNNN", branch and posting) to its exported flag, as the database holds it.
using Flags = QMap<QString, QString>;
Flags exportedFlags(const TestDatabase &db);

// The invoices that the files in `dir` report, each with how often: a record 50 names the
// invoice by its issuer's document, date and number, in the file of its registration (record
// 10). `problems` gets every line that names no invoice of the database, or more than one.
struct Reported
{
    QMap<QString, int> invoices;
    int records50 = 0;
    QStringList problems;
};
Reported reportedInvoices(const TestDatabase &db, const QString &dir);

// What must hold after any run, whatever became of it: an invoice is exported exactly when it
// was before or a delivered file reports it, and no file reports an invoice twice. One line per
// invoice that breaks it; empty when all is well.
QStringList flagsAgainstDelivery(const Flags &before, const Flags &now, const Reported &delivered);

// Export lists not final, and invoices on them: both zero once every run has been settled.
int unsettledLists(const TestDatabase &db);
int invoicesOnLists(const TestDatabase &db);

// Polls `done` every 50 ms for up to `ms`; returns its last answer.
bool waitUntil(const std::function<bool()> &done, int ms);

// A host configuration for fis11000-export: the database, the server's port, branch 0001.
QString writeHostConfig(const QString &dir, const QString &database, quint16 port);

// fis11000-export as a process, so that a test can kill it or run several at once.
class ExportCommand
{
public:
    explicit ExportCommand(const QStringList &arguments);
    ~ExportCommand();
    qint64 pid() const { return m_process.processId(); }
    // Waits for the end; false when it did not end in time (it is then killed).
    bool finish(int ms = 120000);
    int exitCode() const { return m_exitCode; } // -1 for a crash or a kill
    QString out() const { return m_out; }
    QString err() const { return m_err; }
    // What the command printed so far on stderr.
    QString errSoFar();

private:
    QProcess m_process;
    int m_exitCode = -1;
    QString m_out;
    QString m_err;
};

} // namespace fis::test
