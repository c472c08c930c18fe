// The summary fis-demodata --summary prints, on any of the three engines.
#include "demodata.h"
#include "engineconnection.h"
#include "sqlitedb.h"

#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QTextStream>

#include <algorithm>
#include <map>
#include <memory>

namespace fis {

namespace {

// What the summary reads, on whichever engine holds the database.
class SummarySource
{
public:
    virtual ~SummarySource() = default;
    // Positional parameters ("?"); values as the engine gives them (dates as QDate or text).
    virtual std::vector<QVariantList> rows(const QString &sql, const QVariantList &params = {}) = 0;
    // The user tables' names, upper-case and sorted.
    virtual QStringList tableNames() = 0;
    // An expression for the 'YYYY-MM' of a date column.
    virtual QString monthOf(const QString &column) const = 0;
};

class SqliteSource : public SummarySource
{
public:
    explicit SqliteSource(const QString &path)
        : m_db(path,
               QFileInfo(path).isWritable() ? SqliteDb::Mode::Existing : SqliteDb::Mode::ReadOnly)
    {}

    std::vector<QVariantList> rows(const QString &sql, const QVariantList &params) override
    {
        SqliteStmt q(m_db, sql.toUtf8().constData());
        for (qsizetype i = 0; i < params.size(); ++i)
            q.bind(int(i + 1), valueText(params.at(i)).toStdString());
        std::vector<QVariantList> result;
        while (q.step()) {
            QVariantList row;
            for (int c = 0; c < q.columnCount(); ++c)
                row.append(q.value(c));
            result.push_back(std::move(row));
        }
        return result;
    }

    QStringList tableNames() override
    {
        QStringList names;
        for (const QVariantList &row :
             rows(QStringLiteral(
                      "SELECT NAME FROM SQLITE_MASTER WHERE TYPE = 'table' AND NAME NOT LIKE "
                      "'sqlite_%' ORDER BY NAME"),
                  {}))
            names << row.first().toString();
        return names;
    }

    QString monthOf(const QString &column) const override
    {
        return QStringLiteral("SUBSTR(%1, 1, 7)").arg(column);
    }

private:
    SqliteDb m_db;
};

class EngineSource : public SummarySource
{
public:
    explicit EngineSource(const DatabaseTarget &target)
        : m_db(target)
    {}

    std::vector<QVariantList> rows(const QString &sql, const QVariantList &params) override
    {
        return m_db.rows(sql, params);
    }

    QStringList tableNames() override
    {
        const QString sql =
            m_db.engine() == DatabaseEngine::Firebird
                ? QStringLiteral("SELECT TRIM(RDB$RELATION_NAME) FROM RDB$RELATIONS WHERE "
                                 "COALESCE(RDB$SYSTEM_FLAG, 0) = 0 AND RDB$VIEW_BLR IS NULL")
                : QStringLiteral("SELECT TABLE_NAME FROM INFORMATION_SCHEMA.TABLES WHERE "
                                 "TABLE_SCHEMA = CURRENT_SCHEMA() AND TABLE_TYPE = 'BASE TABLE'");
        QStringList names;
        for (const QVariantList &row : rows(sql, {}))
            names << row.first().toString().toUpper();
        std::sort(names.begin(), names.end());
        return names;
    }

    QString monthOf(const QString &column) const override
    {
        if (m_db.engine() == DatabaseEngine::Firebird)
            return QStringLiteral("SUBSTRING(CAST(%1 AS VARCHAR(10)) FROM 1 FOR 7)").arg(column);
        return QStringLiteral("TO_CHAR(%1, 'YYYY-MM')").arg(column);
    }

private:
    EngineConnection m_db;
};

qint64 number(const QVariantList &row, int column)
{
    return row.at(column).toLongLong(); // SUM over no rows is null: 0
}

QString text(const QVariantList &row, int column)
{
    return valueText(row.at(column));
}

// --- The summary, section by section on one stream (field widths carry over). ---

void summarizeRowCounts(QTextStream &ts, SummarySource &db, const QStringList &tables)
{
    ts << "\nLinhas por tabela\n";
    for (const QString &t : tables) {
        const qint64 count =
            number(db.rows(QStringLiteral("SELECT COUNT(*) FROM %1").arg(t)).at(0), 0);
        ts << "  " << qSetFieldWidth(18) << Qt::left << t << qSetFieldWidth(10) << Qt::right
           << count << qSetFieldWidth(0) << Qt::left << '\n';
    }
}

void summarizeTaxes(QTextStream &ts, SummarySource &db)
{
    ts << "\nImpostos:";
    for (const QVariantList &row : db.rows(QStringLiteral(
             "SELECT CDIMPOSTONFE, SGIMPOSTONFE FROM IMPOSTONFE ORDER BY CDIMPOSTONFE")))
        ts << ' ' << text(row, 0) << ' ' << text(row, 1) << ';';
}

void summarizeCompanies(QTextStream &ts, SummarySource &db)
{
    ts << "\n\nEmpresas\n";
    for (const QVariantList &row : db.rows(QStringLiteral(
             "SELECT E.CDEMPRESA, E.NMEMPRESA, "
             "(SELECT COUNT(*) FROM FILIAL F WHERE F.CDEMPRESA = E.CDEMPRESA), "
             "(SELECT COUNT(*) FROM INSCRESTAD I WHERE I.CDEMPRESA = E.CDEMPRESA), "
             "(SELECT COUNT(*) FROM INSCRMUNICIP M WHERE M.CDEMPRESA = E.CDEMPRESA), "
             "(SELECT COUNT(*) FROM NFCOMPRA N WHERE N.CDEMPRESA = E.CDEMPRESA) "
             "FROM EMPRESA E ORDER BY E.CDEMPRESA")))
        ts << "  " << text(row, 0) << ' ' << text(row, 1) << ": " << number(row, 2) << " filiais, "
           << number(row, 3) << " inscrições estaduais e " << number(row, 4) << " municipais, "
           << number(row, 5) << " notas\n";
}

struct CurrentBranch
{
    QString branch, company, processing; // empty when none is recorded
};

CurrentBranch summarizeCurrentBranch(QTextStream &ts, SummarySource &db)
{
    CurrentBranch current;
    const std::vector<QVariantList> rows =
        db.rows(QStringLiteral("SELECT F.CDFILIAL, F.NMFILIAL, F.CDEMPRESA, F.DTPROCESSAMENTO "
                               "FROM PARAMGERAL P JOIN FILIAL F ON F.CDFILIAL = P.VLPARAMETRO "
                               "WHERE P.CDPARAMETRO = 'CDFILIALCORRENTE'"));
    if (rows.empty()) {
        ts << "\nNenhuma filial atual registrada.\n";
        return current;
    }
    const QVariantList &row = rows.front();
    current.branch = text(row, 0);
    current.company = text(row, 2);
    current.processing = text(row, 3);
    ts << "\nFilial atual " << current.branch << ' ' << text(row, 1) << " (empresa "
       << current.company << "), data de processamento " << current.processing << '\n';
    return current;
}

// What the export screen's default period (the processing month up to the processing date)
// would find.
void summarizeDefaultPeriod(QTextStream &ts, SummarySource &db, const CurrentBranch &current)
{
    const QDate procDate = QDate::fromString(current.processing, Qt::ISODate);
    if (!procDate.isValid())
        return;
    const QDate from(procDate.year(), procDate.month(), 1);
    const QVariantList row =
        db.rows(QStringLiteral("SELECT COUNT(*), SUM(CASE WHEN CDFILIAL = ? THEN 1 ELSE 0 END) "
                               "FROM NFCOMPRA WHERE CDEMPRESA = ? AND IDNFCOMPRALEG = 'N' "
                               "AND DTEMISSAO BETWEEN ? AND ?"),
                {current.branch, current.company, from, procDate})
            .at(0);
    ts << "Período padrão " << from.toString(Qt::ISODate) << " a " << current.processing << ": "
       << number(row, 0) << " notas pendentes da empresa " << current.company << ", "
       << number(row, 1) << " delas na filial " << current.branch << '\n';
}

void summarizeInvoicesPerMonth(QTextStream &ts, SummarySource &db)
{
    ts << "\nNotas por mês     pendentes exportadas canceladas     total\n";
    for (const QVariantList &row :
         db.rows(QStringLiteral("SELECT %1, "
                                "SUM(CASE WHEN IDNFCOMPRALEG = 'S' THEN 0 ELSE 1 END), "
                                "SUM(CASE WHEN IDNFCOMPRALEG = 'S' THEN 1 ELSE 0 END), "
                                "SUM(CASE WHEN IDSITUACAO = 'S' THEN 1 ELSE 0 END), COUNT(*) "
                                "FROM NFCOMPRA GROUP BY 1 ORDER BY 1")
                     .arg(db.monthOf(QStringLiteral("DTEMISSAO"))))) {
        ts << "  " << qSetFieldWidth(16) << text(row, 0) << qSetFieldWidth(9) << Qt::right
           << number(row, 1) << qSetFieldWidth(10) << number(row, 2) << qSetFieldWidth(11)
           << number(row, 3) << qSetFieldWidth(10) << number(row, 4) << qSetFieldWidth(0)
           << Qt::left << '\n';
    }
}

void summarizeGeneration(QTextStream &ts, SummarySource &db)
{
    std::map<QString, QString> params;
    for (const QVariantList &row :
         db.rows(QStringLiteral("SELECT CDPARAMETRO, VLPARAMETRO FROM PARAMGERAL "
                                "WHERE CDPARAMETRO IN ('DEMO_NOTAS', 'DEMO_SEMENTE') ORDER BY 1")))
        params[text(row, 0)] = text(row, 1);
    if (!params.empty())
        ts << "\nGerado com --invoices " << params[QStringLiteral("DEMO_NOTAS")] << " --seed "
           << params[QStringLiteral("DEMO_SEMENTE")] << '\n';
}

QString summary(SummarySource &db, const QString &name, const QString &shownName)
{
    QString out;
    QTextStream ts(&out);
    ts << "Banco de dados " << shownName << '\n';

    const QStringList tables = db.tableNames();
    if (!tables.contains(QLatin1String("NFCOMPRA")))
        throw DemoDataError(
            QStringLiteral("%1 não contém notas fiscais de compra (tabela NFCOMPRA).").arg(name));

    summarizeRowCounts(ts, db, tables);
    summarizeTaxes(ts, db);
    summarizeCompanies(ts, db);
    const CurrentBranch current = summarizeCurrentBranch(ts, db);
    summarizeDefaultPeriod(ts, db, current);
    summarizeInvoicesPerMonth(ts, db);
    summarizeGeneration(ts, db);
    ts.flush();
    return out;
}

} // namespace

QString demoDatabaseSummary(const QString &path)
{
    if (!QFileInfo(path).isFile())
        throw DemoDataError(QStringLiteral("O banco de dados %1 não existe.").arg(path));
    SqliteSource db(path);
    return summary(db, path, QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath()));
}

QString demoDatabaseSummary(const DatabaseTarget &target)
{
    if (!target.isServerEngine())
        return demoDatabaseSummary(target.database);
    EngineSource db(target);
    return summary(db, target.toString(), target.toString());
}

} // namespace fis
