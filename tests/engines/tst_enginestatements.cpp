// Every statement of the module, taken from the real forms and opened with the parameters the
// forms set, on SQLite (Oracle dialect), PostgreSQL (Oracle dialect) and Firebird (IB dialect),
// each seeded with the same demo data: a null key matches every row, 'T' selects every row, the
// CHAVE keys and the order are the statements', and each engine gives SQLite's rows. Also the
// host's connection to each engine as its configuration file describes it.
#include "demodata.h"
#include "enginetestutil.h"
#include "export_screen/cli_fis11000.h"
#include "filter_dialog/cli_fis11001.h"
#include "hostfw/adoibquery.h"
#include "hostfw/hostconfig.h"
#include "hostfw/hostdatabase.h"
#include "hostfw/hosterror.h"
#include "hostfw/widgets/maskedit.h"
#include "testsupport/enginedatabase.h"

#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <map>
#include <memory>

using namespace fis;
using namespace fis::test;

namespace {

constexpr int kInvoices = 40;

struct Forms
{
    TfrmCompraLegalBA *screen;
    TfrmFiltroCompraLEGALBA *dialog;
};

// One use of a form's query: how the form opens it, and the values it must give in its key
// column, in order.
struct StatementCase
{
    QString query;
    std::function<void(Forms &, TADOIBQuery &)> open;
    QString keyField;
    QStringList keys;
};

TADOIBQuery &formQuery(Forms &forms, const QString &name)
{
    auto *query = forms.screen->findChild<TADOIBQuery *>(name);
    if (!query)
        query = forms.dialog->findChild<TADOIBQuery *>(name);
    if (!query)
        qFatal("no query %s on the forms", qPrintable(name));
    return *query;
}

// As the export screen's header validation does for one code.
std::function<void(Forms &, TADOIBQuery &)> oneHeaderCode(QString codeParam, QString allParam,
                                                          QString code)
{
    return [=](Forms &, TADOIBQuery &q) {
        q.Close();
        q.ParamByName(codeParam).setAsString(code);
        q.ParamByName(allParam).clear();
        q.Open();
    };
}

// As the filter dialog's validations do: the key set to the typed text.
std::function<void(Forms &, TADOIBQuery &)> oneKey(QString company, QString param, QString value)
{
    return [=](Forms &forms, TADOIBQuery &q) {
        forms.screen->medCdEmpresa->setText(company);
        q.Close();
        q.ParamByName(param).setAsString(value);
        q.Open();
    };
}

// As btpTipoOperClick sets both operation-type queries, or a single code with P_TODOS null.
std::function<void(Forms &, TADOIBQuery &)> operationTypes(QString code, bool all)
{
    return [=](Forms &, TADOIBQuery &q) {
        q.Close();
        q.ParamByName(QStringLiteral("P_TIPOOPER")).setAsString(code);
        if (all)
            q.ParamByName(QStringLiteral("P_TODOS")).setAsString(QStringLiteral("T"));
        else
            q.ParamByName(QStringLiteral("P_TODOS")).clear();
        q.Open();
    };
}

// As btpSerieClick sets the invoice series query; a null series lists them all.
std::function<void(Forms &, TADOIBQuery &)> invoiceSeries(QString company, QString state,
                                                          QString municipal, QString series)
{
    return [=](Forms &, TADOIBQuery &q) {
        q.Close();
        q.ParamByName(QStringLiteral("P_CDEMPRESA")).setAsString(company);
        q.ParamByName(QStringLiteral("P_CDINSCESTA")).setAsString(state);
        q.ParamByName(QStringLiteral("P_CDINSCMUNI")).setAsString(municipal);
        if (series.isNull())
            q.ParamByName(QStringLiteral("P_CDSERIE")).clear();
        else
            q.ParamByName(QStringLiteral("P_CDSERIE")).setAsString(series);
        q.Open();
    };
}

std::function<void(Forms &, TADOIBQuery &)> entrySeries(QString series)
{
    return [=](Forms &, TADOIBQuery &q) {
        q.Close();
        if (series.isNull())
            q.ParamByName(QStringLiteral("P_CDSERIEENTR")).clear();
        else
            q.ParamByName(QStringLiteral("P_CDSERIEENTR")).setAsString(series);
        q.Open();
    };
}

// The lookup buttons' own handlers: every row.
std::function<void(Forms &, TADOIBQuery &)> formHandler(QString company,
                                                        std::function<void(Forms &)> handler)
{
    return [=](Forms &forms, TADOIBQuery &) {
        forms.screen->medCdEmpresa->setText(company);
        handler(forms);
    };
}

const std::map<QString, StatementCase> &statementCases()
{
    const QStringList branches{"0001", "0002", "0003", "0004", "0005", "0006", "0007"};
    static const std::map<QString, StatementCase> cases{
        {"qryImposto, every tax ('T')",
         {"qryImposto",
          formHandler("", [](Forms &f) { f.screen->btpImpostoBeforePesq(); }),
          "CDIMPOSTONFE",
          {"01", "02", "03", "04", "05", "06"}}},
        {"qryImposto, one tax",
         {"qryImposto", oneHeaderCode("P_CDIMPOSTO", "P_TIMPOSTO", "03"), "CDIMPOSTONFE", {"03"}}},
        {"qryImposto, unknown tax",
         {"qryImposto", oneHeaderCode("P_CDIMPOSTO", "P_TIMPOSTO", "99"), "CDIMPOSTONFE", {}}},
        {"qryEmpresa, every company ('T')",
         {"qryEmpresa",
          formHandler("", [](Forms &f) { f.screen->btpEmpresaBeforePesq(); }),
          "CDEMPRESA",
          {"01", "02", "03"}}},
        {"qryEmpresa, one company",
         {"qryEmpresa", oneHeaderCode("P_EMPRESA", "P_TEMPRESA", "02"), "CDEMPRESA", {"02"}}},
        {"qryFilial, null: every branch",
         {"qryFilial", formHandler("", [](Forms &f) { f.dialog->btpFiliEmitBeforePesq(); }),
          "CDFILIAL", branches}},
        {"qryFilial, one branch",
         {"qryFilial", oneKey("01", "P_CDFILIAL", "0003"), "CDFILIAL", {"0003"}}},
        {"qryFilial, unknown branch",
         {"qryFilial", oneKey("01", "P_CDFILIAL", "9999"), "CDFILIAL", {}}},
        {"qryInscrEstad, null: every registration of company 01",
         {"qryInscrEstad",
          formHandler("01", [](Forms &f) { f.dialog->btpInscEstBeforePesq(); }),
          "CDINSCESTA",
          {"052147836", "061258473", "074369581", "083471692", "271905438"}}},
        {"qryInscrEstad, null: every registration of company 02",
         {"qryInscrEstad",
          formHandler("02", [](Forms &f) { f.dialog->btpInscEstBeforePesq(); }),
          "CDINSCESTA",
          {"112583704", "125694815", "136705926"}}},
        {"qryInscrEstad, null: company 03 has none",
         {"qryInscrEstad",
          formHandler("03", [](Forms &f) { f.dialog->btpInscEstBeforePesq(); }),
          "CDINSCESTA",
          {}}},
        {"qryInscrEstad, one registration",
         {"qryInscrEstad", oneKey("02", "P_CDINSCESTA", "125694815"), "CDINSCESTA", {"125694815"}}},
        {"qryInscrEstad, another company's registration",
         {"qryInscrEstad", oneKey("02", "P_CDINSCESTA", "052147836"), "CDINSCESTA", {}}},
        {"qryInscrMunicip, null: every registration of company 01",
         {"qryInscrMunicip",
          formHandler("01", [](Forms &f) { f.dialog->btpInscMuniBeforePesq(); }),
          "CDINSCMUNI",
          {"1102587", "2145870010", "3120458", "45871236"}}},
        {"qryInscrMunicip, one registration",
         {"qryInscrMunicip", oneKey("02", "P_CDINSCMUNI", "5500871"), "CDINSCMUNI", {"5500871"}}},
        {"qryPesqClie, every client by name",
         {"qryPesqClie",
          formHandler("", [](Forms &f) { f.dialog->btpPesqClieBeforePesq(); }),
          "",
          {}}},
        {"qryTipoOperac, every exit type in use ('T')",
         {"qryTipoOperac", operationTypes("", true), "CHAVE", {"S01", "S06", "S07", "S10", "S11"}}},
        {"qryTipoOperac, one type",
         {"qryTipoOperac", operationTypes("06", false), "CHAVE", {"S06"}}},
        {"qryTipoOperac, a type not in use",
         {"qryTipoOperac", operationTypes("08", false), "CHAVE", {}}},
        {"qryTpOperacE, every entry type used in issue ('T')",
         {"qryTpOperacE", operationTypes("", true), "CHAVE", {"E01", "E02", "E03", "E06", "E10"}}},
        {"qryTpOperacE, one type", {"qryTpOperacE", operationTypes("10", false), "CHAVE", {"E10"}}},
        {"qryTpOperacE, a type not used in issue",
         {"qryTpOperacE", operationTypes("04", false), "CHAVE", {}}},
        {"qrySerieNF, null: every series of branch 0001's pair",
         {"qrySerieNF",
          invoiceSeries("01", "052147836", "2145870010", QString()),
          "CHAVE",
          {"S1", "S2", "SA", "SU"}}},
        {"qrySerieNF, null: every series of branch 0005's pair",
         {"qrySerieNF",
          invoiceSeries("02", "112583704", "0087456321", QString()),
          "CHAVE",
          {"S1", "SB", "SU"}}},
        {"qrySerieNF, one series",
         {"qrySerieNF", invoiceSeries("01", "052147836", "2145870010", "A"), "CHAVE", {"SA"}}},
        {"qrySerieNF, registrations of two branches",
         {"qrySerieNF", invoiceSeries("01", "052147836", "3120458", QString()), "CHAVE", {}}},
        {"qrySerieEntr, null: every entry series",
         {"qrySerieEntr",
          entrySeries(QString()),
          "CHAVE",
          {"E1", "E2", "E3", "E890", "ED", "ED1", "EU"}}},
        {"qrySerieEntr, one series", {"qrySerieEntr", entrySeries("D1"), "CHAVE", {"ED1"}}},
    };
    return cases;
}

// The rows of an open query, every field (hidden ones too) as the forms read them.
QStringList queryRows(TADOIBQuery &q)
{
    QStringList rows;
    const MemTable *table = q.table();
    for (q.First(); !q.Eof(); q.Next()) {
        QStringList values;
        for (int f = 0; f < table->fieldCount(); ++f) {
            const QString name = table->field(f).name;
            const QueryField field = q.FieldByName(name);
            values << name + u'=' + (field.IsNull() ? QStringLiteral("<null>") : field.AsString());
        }
        rows << values.join(u'|');
    }
    return rows;
}

QStringList column(TADOIBQuery &q, const QString &field)
{
    QStringList values;
    for (q.First(); !q.Eof(); q.Next())
        values << q.FieldByName(field).AsString();
    return values;
}

// The host's configuration for a server engine, as an ini file would give it.
HostConfig iniConfig(const QTemporaryDir &dir, const DatabaseTarget &target, bool byEnvironment)
{
    const QString path = dir.filePath(engineName(target.engine) + QStringLiteral(".ini"));
    {
        QSettings ini(path, QSettings::IniFormat);
        ini.clear();
        ini.setValue("Database/Driver", target.qtDriver());
        ini.setValue("Database/Host", target.host);
        ini.setValue("Database/Port", QString::number(target.port));
        ini.setValue("Database/Name", target.database);
        ini.setValue("Database/User", target.user);
        if (byEnvironment)
            ini.setValue("Database/PasswordEnv", "FIS_TEST_ENGINE_PASSWORD");
        else
            ini.setValue("Database/PasswordFile", target.passwordFile);
        ini.setValue("Host/Branch", "0001");
    }
    return HostConfig::load(path);
}

QString fileText(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).trimmed() : QString();
}

} // namespace

class TstEngineStatements : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();

    void statements_data();
    void statements();
    void emptyTextIsNull_data();
    void emptyTextIsNull();
    void emptyStateRegistration_data();
    void emptyStateRegistration();
    void connectionAsConfigured_data();
    void connectionAsConfigured();
    void columnsAndDatesWhateverTheEngine_data();
    void columnsAndDatesWhateverTheEngine();
    void queriesOnlyRead_data();
    void queriesOnlyRead();

private:
    static void addEngineRows(bool withSqlite);
    HostDatabase &host(const QString &engine) { return *m_hosts.at(engine); }

    QTemporaryDir m_dir;
    std::map<DatabaseEngine, std::unique_ptr<SeededEngineDatabase>> m_databases;
    std::map<QString, std::unique_ptr<HostDatabase>> m_hosts; // by engine name
    std::unique_ptr<TfrmCompraLegalBA> m_screen;
    std::unique_ptr<TfrmFiltroCompraLEGALBA> m_dialog;
};

void TstEngineStatements::initTestCase()
{
    QVERIFY(m_dir.isValid());
    HostConfig sqlite;
    sqlite.databaseName = m_dir.filePath(QStringLiteral("demo.sqlite"));
    sqlite.branch = QStringLiteral("0001");
    generateDemoDatabase(sqlite.databaseName, kInvoices);
    m_hosts["sqlite"] = std::make_unique<HostDatabase>(sqlite, QStringLiteral("sqlite"));
    for (DatabaseEngine engine : serverEngines()) {
        auto database = std::make_unique<SeededEngineDatabase>(engine, kInvoices);
        QVERIFY2(database->isValid(), qPrintable(database->error()));
        const HostConfig config = iniConfig(m_dir, database->target(), false);
        m_hosts[engineName(engine)] = std::make_unique<HostDatabase>(config, engineName(engine));
        m_databases[engine] = std::move(database);
    }
    for (auto &[name, database] : m_hosts)
        database->open();

    HostConfig::setCurrent(sqlite);
    HostDatabase::setCurrent(m_hosts.at("sqlite").get());
    m_screen = std::make_unique<TfrmCompraLegalBA>();
    frmCompraLegalBA = m_screen.get();
    m_dialog = std::make_unique<TfrmFiltroCompraLEGALBA>();
}

void TstEngineStatements::cleanupTestCase()
{
    HostDatabase::setCurrent(nullptr);
    m_dialog.reset();
    m_screen.reset();
    frmCompraLegalBA = nullptr;
    m_hosts.clear();
    m_databases.clear();
    HostConfig::setCurrent(HostConfig());
}

void TstEngineStatements::addEngineRows(bool withSqlite)
{
    QTest::addColumn<QString>("engine");
    if (withSqlite)
        QTest::newRow("sqlite") << "sqlite";
    for (DatabaseEngine engine : serverEngines())
        QTest::newRow(qPrintable(engineName(engine))) << engineName(engine);
}

void TstEngineStatements::statements_data()
{
    QTest::addColumn<QString>("engine");
    QTest::addColumn<QString>("name");
    for (const char *engine : {"sqlite", "postgresql", "firebird"}) {
        for (const auto &[name, statementCase] : statementCases())
            QTest::addRow("%s: %s", engine, qPrintable(name))
                << QString::fromLatin1(engine) << name;
    }
}

void TstEngineStatements::statements()
{
    QFETCH(QString, engine);
    QFETCH(QString, name);
    const StatementCase &c = statementCases().at(name);
    Forms forms{m_screen.get(), m_dialog.get()};
    TADOIBQuery &query = formQuery(forms, c.query);

    HostDatabase::setCurrent(m_hosts.at("sqlite").get());
    c.open(forms, query);
    const QStringList expected = queryRows(query);
    HostDatabase::setCurrent(&host(engine));
    c.open(forms, query);
    const QStringList rows = queryRows(query);
    HostDatabase::setCurrent(m_hosts.at("sqlite").get());

    if (!c.keyField.isEmpty())
        QCOMPARE(column(query, c.keyField), c.keys);
    if (c.query != u"qryPesqClie") {
        QCOMPARE(rows, expected);
        return;
    }
    // Ordered by name only: clients who share a name come in each engine's own order.
    QCOMPARE(rows.size(), 2000);
    QCOMPARE(column(query, QStringLiteral("NMRAZSOCCLIE")).size(), rows.size());
    QStringList names;
    QStringList expectedNames;
    for (qsizetype i = 0; i < rows.size(); ++i) {
        names << rows.at(i).section(QStringLiteral("NMRAZSOCCLIE="), 1).section(u'|', 0, 0);
        expectedNames
            << expected.at(i).section(QStringLiteral("NMRAZSOCCLIE="), 1).section(u'|', 0, 0);
    }
    QCOMPARE(names, expectedNames);
    QStringList sortedRows = rows;
    QStringList sortedExpected = expected;
    sortedRows.sort();
    sortedExpected.sort();
    QCOMPARE(sortedRows, sortedExpected);
}

// Only Oracle stores and compares '' as null; none of the three engines here does.
void TstEngineStatements::emptyTextIsNull_data()
{
    addEngineRows(true);
}

void TstEngineStatements::emptyTextIsNull()
{
    QFETCH(QString, engine);
    QSqlQuery q(host(engine).database());
    const QString from = engine == u"firebird" ? QStringLiteral(" FROM RDB$DATABASE") : QString();
    QVERIFY(q.exec(
        QStringLiteral("SELECT CASE WHEN '' IS NULL THEN 'null' ELSE 'a value' END AS E") + from));
    QVERIFY(q.next());
    QCOMPARE(q.value(0).toString().trimmed(), QStringLiteral("a value"));
}

// The state registration check looks an empty registration up: the Oracle dialect binds '' as
// null, as Oracle would, so on SQLite and PostgreSQL every registration of the company matches;
// the IB dialect binds '' as it is and Firebird's PARAM hands it on as null: the same rows.
void TstEngineStatements::emptyStateRegistration_data()
{
    QTest::addColumn<QString>("engine");
    QTest::addColumn<QString>("company");
    QTest::addColumn<int>("rows");
    QTest::newRow("sqlite, company 01") << "sqlite"
                                        << "01" << 5;
    QTest::newRow("sqlite, company 03 (no registrations)") << "sqlite"
                                                           << "03" << 0;
    QTest::newRow("postgresql, company 01") << "postgresql"
                                            << "01" << 5;
    QTest::newRow("postgresql, company 03 (no registrations)") << "postgresql"
                                                               << "03" << 0;
    QTest::newRow("firebird, company 01") << "firebird"
                                          << "01" << 5;
    QTest::newRow("firebird, company 03 (no registrations)") << "firebird"
                                                             << "03" << 0;
}

void TstEngineStatements::emptyStateRegistration()
{
    QFETCH(QString, engine);
    QFETCH(QString, company);
    QFETCH(int, rows);
    // What Vd_CdInscEsta does with an empty edit.
    TADOIBQuery &query = *m_dialog->qryInscrEstad;
    m_screen->medCdEmpresa->setText(company);
    HostDatabase::setCurrent(&host(engine));
    query.Close();
    query.ParamByName(QStringLiteral("P_CDINSCESTA")).setAsString(m_dialog->edtCdInscEsta->text());
    QVERIFY(!query.ParamByName(QStringLiteral("P_CDINSCESTA")).isNull());
    query.Open();
    HostDatabase::setCurrent(m_hosts.at("sqlite").get());
    QCOMPARE(query.RecordCount(), rows);
}

void TstEngineStatements::connectionAsConfigured_data()
{
    QTest::addColumn<DatabaseEngine>("engine");
    for (DatabaseEngine engine : serverEngines())
        QTest::newRow(qPrintable(engineName(engine))) << engine;
}

void TstEngineStatements::connectionAsConfigured()
{
    QFETCH(DatabaseEngine, engine);
    const DatabaseTarget &target = m_databases.at(engine)->target();
    const QString password = fileText(target.passwordFile);
    QVERIFY(!password.isEmpty());

    // The password from an environment variable, the dialect the driver's default.
    qputenv("FIS_TEST_ENGINE_PASSWORD", password.toUtf8());
    const HostConfig byEnvironment = iniConfig(m_dir, target, true);
    QCOMPARE(byEnvironment.effectiveDialect(),
             engine == DatabaseEngine::Firebird ? Dialect::IB : Dialect::Oracle);
    {
        HostDatabase database(byEnvironment, QStringLiteral("by-environment"));
        database.open();
        QVERIFY(database.isOpen());
        // The password went to the driver, not into the connection's settings.
        QVERIFY(database.database().password().isEmpty());
        if (engine == DatabaseEngine::Firebird) {
            QSqlQuery charset(database.database());
            QVERIFY(charset.exec(QStringLiteral(
                "SELECT TRIM(C.RDB$CHARACTER_SET_NAME) FROM MON$ATTACHMENTS A JOIN "
                "RDB$CHARACTER_SETS C ON C.RDB$CHARACTER_SET_ID = A.MON$CHARACTER_SET_ID WHERE "
                "A.MON$ATTACHMENT_ID = CURRENT_CONNECTION")));
            QVERIFY(charset.next());
            QCOMPARE(charset.value(0).toString(), QStringLiteral("UTF8"));
        }
    }

    // A wrong password is refused with the server's message, which never holds the password.
    qputenv("FIS_TEST_ENGINE_PASSWORD", "wrong-" + password.toUtf8());
    HostDatabase refused(byEnvironment, QStringLiteral("refused"));
    try {
        refused.open();
        QFAIL("a wrong password was accepted");
    } catch (const DatabaseError &e) {
        QVERIFY2(e.message().contains(target.database), qPrintable(e.message()));
        QVERIFY2(!e.message().contains(password), "the password is in the message");
    }
    qunsetenv("FIS_TEST_ENGINE_PASSWORD");
    HostDatabase unset(byEnvironment, QStringLiteral("unset"));
    try {
        unset.open();
        QFAIL("a connection opened without its password variable");
    } catch (const DatabaseError &e) {
        QVERIFY2(e.message().contains(u"FIS_TEST_ENGINE_PASSWORD"), qPrintable(e.message()));
    }
}

void TstEngineStatements::columnsAndDatesWhateverTheEngine_data()
{
    addEngineRows(true);
}

void TstEngineStatements::columnsAndDatesWhateverTheEngine()
{
    QFETCH(QString, engine);
    TADOIBQuery bare(QStringLiteral("qryBare"));
    bare.setDatabase(&host(engine));
    bare.SQL = QStringList{QStringLiteral(
        "SELECT CDFILIAL, DTPROCESSAMENTO, SGESTADO, NMMUNICIPIO FROM FILIAL WHERE CDFILIAL = "
        ":P_CDFILIAL")};
    bare.ParamByName(QStringLiteral("P_CDFILIAL")).setAsString(QStringLiteral("0003"));
    bare.Open();
    // Names as the statement writes them (PostgreSQL folds them to lower case).
    QStringList names;
    for (int f = 0; f < bare.table()->fieldCount(); ++f)
        names << bare.table()->field(f).name;
    QCOMPARE(names, (QStringList{"CDFILIAL", "DTPROCESSAMENTO", "SGESTADO", "NMMUNICIPIO"}));
    QCOMPARE(bare.FieldByName(QStringLiteral("DTPROCESSAMENTO")).AsDateTime(),
             QDateTime(QDate(2025, 4, 30), QTime(0, 0)));
    // CHAR(2) without the padding Firebird gives it.
    QCOMPARE(bare.FieldByName(QStringLiteral("SGESTADO")).AsString(), QStringLiteral("BA"));
    QCOMPARE(bare.FieldByName(QStringLiteral("NMMUNICIPIO")).AsString(),
             QStringLiteral("Vitória da Conquista"));
    // The host's processing date, read through the engine.
    QCOMPARE(DataProc(host(engine), QStringLiteral("0006")), QDate(2025, 5, 12));
}

void TstEngineStatements::queriesOnlyRead_data()
{
    addEngineRows(false);
}

void TstEngineStatements::queriesOnlyRead()
{
    QFETCH(QString, engine);
    TADOIBQuery writer(QStringLiteral("qryWrite"));
    writer.setDatabase(&host(engine));
    writer.SQL = QStringList{QStringLiteral("DELETE FROM EMPRESA WHERE CDEMPRESA = :P_EMPRESA")};
    writer.ParamByName(QStringLiteral("P_EMPRESA")).setAsString(QStringLiteral("03"));
    QVERIFY_THROWS_EXCEPTION(DatabaseError, writer.Open());
    TADOIBQuery count(QStringLiteral("qryCount"));
    count.setDatabase(&host(engine));
    count.SQL = QStringList{QStringLiteral("SELECT COUNT(*) AS N FROM EMPRESA")};
    count.Open();
    QCOMPARE(count.FieldByName(QStringLiteral("N")).AsString(), QStringLiteral("3"));
}

QTEST_MAIN(TstEngineStatements)
#include "tst_enginestatements.moc"
