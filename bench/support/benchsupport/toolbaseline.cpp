#include "benchsupport/toolbaseline.h"

#include "sqldb/sqldatabase.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>

namespace fis::bench {

namespace {

// A copy of an SQLite file that no connection has open, its write-ahead log included.
DatabaseTarget copySqlite(const DatabaseTarget &database, const QString &workDir)
{
    DatabaseTarget copy = database;
    copy.database = QDir(workDir).filePath(QStringLiteral("baseline.sqlite"));
    for (const QString &suffix : {QString(), QStringLiteral("-wal")}) {
        QFile::remove(copy.database + suffix);
        if (QFileInfo::exists(database.database + suffix) &&
            !QFile::copy(database.database + suffix, copy.database + suffix))
            throw Error(Error::Kind::File, QStringLiteral("cannot copy %1").arg(database.database));
    }
    return copy;
}

void storeLines(SqlConnection &db, const QStringList &files)
{
    db.exec(
        db.engine() == DatabaseEngine::Sqlite
            ? "CREATE TABLE BENCHLINHA (NRARQ INTEGER NOT NULL, NRLINHA INTEGER NOT NULL,"
              " DSLINHA VARCHAR(126) NOT NULL, PRIMARY KEY (NRARQ, NRLINHA)) WITHOUT ROWID"
            : "DROP TABLE IF EXISTS BENCHLINHA; CREATE TABLE BENCHLINHA (NRARQ INTEGER NOT NULL,"
              " NRLINHA INTEGER NOT NULL, DSLINHA VARCHAR(126) NOT NULL,"
              " PRIMARY KEY (NRARQ, NRLINHA))");
    SqlTransaction transaction(db, SqlTransaction::Kind::Write);
    const auto writer =
        db.insertRows("BENCHLINHA", {QByteArray("NRARQ"), QByteArray("NRLINHA"), "DSLINHA"});
    for (qsizetype f = 0; f < files.size(); ++f) {
        QFile in(files.at(f));
        if (!in.open(QIODevice::ReadOnly))
            throw Error(Error::Kind::File, QStringLiteral("cannot open %1").arg(files.at(f)));
        qint64 number = 0;
        while (!in.atEnd()) {
            QByteArray line = in.readLine();
            if (line.endsWith("\r\n"))
                line.chop(2);
            writer->addInteger(f + 1);
            writer->addInteger(++number);
            writer->addText(QString::fromLatin1(line).toUtf8());
            writer->endRow();
        }
    }
    writer->finish();
    transaction.commit();
    // The planner of PostgreSQL then reads the table by its key instead of sorting it.
    if (db.engine() == DatabaseEngine::PostgreSql)
        db.exec("ANALYZE BENCHLINHA");
}

QStringList toolCommand(const DatabaseTarget &db, const QString &output, QProcessEnvironment &env)
{
    if (db.engine == DatabaseEngine::Sqlite)
        return {QStringLiteral("sqlite3"), db.database, QStringLiteral(".output ") + output,
                QStringLiteral("SELECT DSLINHA FROM BENCHLINHA ORDER BY NRARQ, NRLINHA;")};
    env.insert(QStringLiteral("PGPASSWORD"), db.password());
    env.insert(QStringLiteral("PGCLIENTENCODING"), QStringLiteral("UTF8"));
    return {
        QStringLiteral("psql"),
        QStringLiteral("-X"),
        QStringLiteral("-q"),
        QStringLiteral("-v"),
        QStringLiteral("ON_ERROR_STOP=1"),
        QStringLiteral("-h"),
        db.host,
        QStringLiteral("-p"),
        QString::number(db.effectivePort()),
        QStringLiteral("-U"),
        db.user,
        QStringLiteral("-d"),
        db.database,
        QStringLiteral("-c"),
        QStringLiteral("\\copy (SELECT DSLINHA FROM BENCHLINHA ORDER BY NRARQ, NRLINHA) TO '%1'")
            .arg(output)};
}

// COPY's text format writes a backslash as "\\" (and tabs, line ends escaped); lines of the
// layout hold none of the others.
QByteArray unescapeCopyText(const QByteArray &line)
{
    if (!line.contains('\\'))
        return line;
    QByteArray out;
    for (qsizetype i = 0; i < line.size(); ++i) {
        if (line.at(i) == '\\' && i + 1 < line.size()) {
            const char next = line.at(++i);
            out += next == 't' ? '\t' : next == 'r' ? '\r' : next == 'n' ? '\n' : next;
        } else {
            out += line.at(i);
        }
    }
    return out;
}

// The export writes ISO-8859-1 lines ended by CR LF; the tools UTF-8 lines ended by LF.
void compareLines(ToolBaseline &result, const QStringList &files, const QString &toolOutput)
{
    QFile tool(toolOutput);
    if (!result.check.require(tool.open(QIODevice::ReadOnly),
                              QStringLiteral("%1 wrote no file").arg(result.tool)))
        return;
    for (const QString &path : files) {
        QFile exported(path);
        if (!result.check.require(exported.open(QIODevice::ReadOnly),
                                  QStringLiteral("cannot open %1").arg(path)))
            return;
        while (!exported.atEnd()) {
            QByteArray a = exported.readLine();
            ++result.lines;
            if (!result.check.require(!tool.atEnd(), QStringLiteral("%1 ends first, after %2 lines")
                                                         .arg(result.tool)
                                                         .arg(result.lines - 1)))
                return;
            QByteArray b = tool.readLine();
            if (!result.check.require(a.endsWith("\r\n") && b.endsWith('\n') && !b.endsWith("\r\n"),
                                      QStringLiteral("line %1: wrong line end").arg(result.lines)))
                return;
            a.chop(2);
            b.chop(1);
            if (result.tool == u"psql")
                b = unescapeCopyText(b);
            if (!result.check.require(
                    QString::fromLatin1(a) == QString::fromUtf8(b),
                    QStringLiteral("line %1 differs: export \"%2\", %3 \"%4\"")
                        .arg(result.lines)
                        .arg(QString::fromLatin1(a), result.tool, QString::fromUtf8(b))))
                return;
        }
    }
    result.check.require(tool.atEnd(),
                         QStringLiteral("the export ends first, after %1 lines").arg(result.lines));
}

} // namespace

ToolBaseline measureToolBaseline(const DatabaseTarget &database, const QStringList &files,
                                 const QString &workDir)
{
    const DatabaseTarget target =
        database.engine == DatabaseEngine::Sqlite ? copySqlite(database, workDir) : database;
    if (target.engine != DatabaseEngine::Sqlite && target.engine != DatabaseEngine::PostgreSql)
        throw Error(Error::Kind::Config,
                    QStringLiteral("no command-line baseline for %1").arg(target.toString()));
    storeLines(*openSqlDatabase(target), files);

    ToolBaseline result;
    const QString output = QDir(workDir).filePath(QStringLiteral("tool.txt"));
    QFile::remove(output);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    QStringList command = toolCommand(target, output, env);
    result.tool = command.takeFirst();
    QProcess process;
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    QElapsedTimer clock;
    clock.start();
    process.start(result.tool, command);
    const bool finished = process.waitForFinished(-1);
    result.seconds = double(clock.nsecsElapsed()) / 1e9;
    if (!result.check.require(
            finished && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0,
            QStringLiteral("%1 failed (exit %2)").arg(result.tool).arg(process.exitCode())))
        return result;
    compareLines(result, files, output);
    QFile::remove(output);
    if (target.engine == DatabaseEngine::Sqlite)
        for (const QString &suffix : {QString(), QStringLiteral("-wal"), QStringLiteral("-shm")})
            QFile::remove(target.database + suffix);
    return result;
}

} // namespace fis::bench
