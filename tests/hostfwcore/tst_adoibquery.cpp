#include "hostfw/adoibquery.h"
#include "hostfw/hostconfig.h"
#include "hostfw/hostdatabase.h"
#include "hostfw/hosterror.h"

#include "demodata.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <memory>
#include <thread>

using namespace fis;

namespace {

FieldDef textField(const QString &name, int size, const QString &label = {}, bool visible = true,
                   bool required = false)
{
    FieldDef f;
    f.name = name;
    f.size = size;
    f.label = label;
    f.visible = visible;
    f.required = required;
    return f;
}

QStringList column(TADOIBQuery &query, const QString &field)
{
    QStringList values;
    for (query.First(); !query.Eof(); query.Next())
        values << query.FieldByName(field).AsString();
    return values;
}

// The branch lookup as the filter dialog declares it.
void defineFilial(TADOIBQuery &q)
{
    q.SQL_ORACLE = QStringList{QStringLiteral(
        "SELECT CDFILIAL, NMFILIAL FROM FILIAL WHERE (CDFILIAL = NVL(:P_CDFILIAL, CDFILIAL)) "
        "ORDER BY CDFILIAL")};
    q.SQL_MSSQL = QStringList{QStringLiteral(
        "SELECT CDFILIAL, NMFILIAL FROM FILIAL WHERE (CDFILIAL = ISNULL(:P_CDFILIAL, CDFILIAL)) "
        "ORDER BY CDFILIAL")};
    q.SQL_IB = QStringList{QStringLiteral(
        "SELECT CDFILIAL, NMFILIAL FROM FILIAL, PARAM(:P_CDFILIAL) P_CDFILIAL WHERE (CDFILIAL = "
        "NVLSTR(P_CDFILIAL.PARAM, CDFILIAL)) ORDER BY CDFILIAL")};
    q.addField(textField("CDFILIAL", 4, "Código", true, true));
    q.addField(textField("NMFILIAL", 30, "Nome"));
}

void defineEmpresa(TADOIBQuery &q)
{
    q.SQL =
        QStringList{"SELECT CDEMPRESA, NMEMPRESA", "FROM EMPRESA",
                    "WHERE (CDEMPRESA = :P_EMPRESA OR :P_TEMPRESA = 'T')", "ORDER BY CDEMPRESA"};
    q.addField(textField("CDEMPRESA", 2, "Código", true, true));
    q.addField(textField("NMEMPRESA", 40, "Nome"));
}

void defineTipoOperac(TADOIBQuery &q)
{
    q.SQL_ORACLE = QStringList{QStringLiteral(
        "SELECT T.CDTIPOOPER, T.NMTIPOOPER, IDENTRSAIDOP||CDTIPOOPER AS CHAVE FROM TIPOOPERAC T "
        "WHERE IDENTRSAIDOP = 'S' AND IDUTILOPER = 'S' AND ((CDTIPOOPER = :P_TIPOOPER) OR "
        "(:P_TODOS = 'T')) ORDER BY 1")};
    q.SQL_MSSQL = QStringList{QStringLiteral(
        "SELECT T.CDTIPOOPER, T.NMTIPOOPER, IDENTRSAIDOP+CDTIPOOPER AS CHAVE FROM TIPOOPERAC T "
        "WHERE IDENTRSAIDOP = 'S' AND IDUTILOPER = 'S' AND ((CDTIPOOPER = :P_TIPOOPER) OR "
        "(:P_TODOS = 'T')) ORDER BY 1")};
    q.SQL_IB = QStringList{QStringLiteral(
        "SELECT T.CDTIPOOPER, T.NMTIPOOPER, IDENTRSAIDOP||CDTIPOOPER AS CHAVE FROM TIPOOPERAC T, "
        "PARAM(:P_TIPOOPER) P_TIPOOPER, PARAM(:P_TODOS) P_TODOS WHERE IDENTRSAIDOP = 'S' AND "
        "IDUTILOPER = 'S' AND ((CDTIPOOPER = P_TIPOOPER.PARAM) OR (P_TODOS.PARAM = 'T')) ORDER BY "
        "1")};
    q.addField(textField("CHAVE", 3));
    q.addField(textField("CDTIPOOPER", 2, "Código"));
    q.addField(textField("NMTIPOOPER", 30, "Nome"));
}

void defineTpOperacE(TADOIBQuery &q)
{
    q.SQL_ORACLE = QStringList{QStringLiteral(
        "SELECT CDTIPOOPER, NMTIPOOPER, IDENTRSAIDOP||CDTIPOOPER AS CHAVE FROM TIPOOPERAC T WHERE "
        "T.IDUTILOPER = 'S' AND T.IDENTRSAIDOP = 'E' AND T.IDUTILEMISNF = 'S' AND "
        "((T.CDTIPOOPER = :P_TIPOOPER) OR (:P_TODOS = 'T')) ORDER BY 1")};
    q.addField(textField("CHAVE", 3));
    q.addField(textField("CDTIPOOPER", 2, "Código"));
    q.addField(textField("NMTIPOOPER", 30));
}

void defineInscrEstad(TADOIBQuery &q)
{
    q.SQL = QStringList{QStringLiteral(
        "SELECT CDINSCESTA FROM INSCRESTAD WHERE CDEMPRESA = :P_CDEMPRESA AND CDINSCESTA = "
        "NVL(:P_CDINSCESTA, CDINSCESTA) ORDER BY 1")};
    q.SQL_ORACLE = QStringList{QStringLiteral(
        "SELECT CDINSCESTA, SGESTADO FROM INSCRESTAD WHERE CDEMPRESA = :P_CDEMPRESA AND "
        "CDINSCESTA = NVL(:P_CDINSCESTA, CDINSCESTA) ORDER BY 1")};
    q.addField(textField("CDINSCESTA", 16, "Código", true, true));
    q.addField(textField("SGESTADO", 2, "Estado"));
}

int countRows(const QString &connection, const QString &table)
{
    QSqlQuery q(QSqlDatabase::database(connection));
    if (!q.exec("SELECT COUNT(*) FROM " + table) || !q.next())
        return -1;
    return q.value(0).toInt();
}

} // namespace

class TstAdoIbQuery : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();

    void nullAndEmptyParameters();
    void allRowsAndOneCodeModes();
    void keyConcatenationAndOrder();
    void dialectPicksItsStatement();
    void errorsCarryQueryAndDatabaseMessage();
    void parameterTextIsNeverSql();
    void beforeOpenRunsBeforeEachOpen();
    void parametersAndCursor();
    void fields();
    void connection();
    void busyTimeoutApplies();
    void processingDate();

private:
    std::unique_ptr<HostDatabase> openDatabase(std::optional<Dialect> dialect,
                                               const QString &connection);

    QTemporaryDir m_dir;
    QString m_dbPath;
    std::unique_ptr<HostDatabase> m_oracle;
};

std::unique_ptr<HostDatabase> TstAdoIbQuery::openDatabase(std::optional<Dialect> dialect,
                                                          const QString &connection)
{
    HostConfig config;
    config.databaseName = m_dbPath;
    config.dialect = dialect;
    auto db = std::make_unique<HostDatabase>(config, connection);
    db->open();
    return db;
}

void TstAdoIbQuery::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_dbPath = m_dir.filePath("host.db");
    generateDemoDatabase(m_dbPath, kMinDemoInvoices);
    m_oracle = openDatabase(std::nullopt, HostDatabase::defaultConnectionName());
    QCOMPARE(m_oracle->dialect(), Dialect::Oracle);
}

void TstAdoIbQuery::cleanupTestCase()
{
    m_oracle.reset();
    QVERIFY(HostDatabase::current() == nullptr);
}

void TstAdoIbQuery::init()
{
    HostDatabase::setCurrent(m_oracle.get());
}

void TstAdoIbQuery::nullAndEmptyParameters()
{
    TADOIBQuery qryFilial("qryFilial");
    defineFilial(qryFilial);
    qryFilial.ParamByName("P_CDFILIAL").clear();
    qryFilial.Open();
    QCOMPARE(column(qryFilial, "CDFILIAL"),
             (QStringList{"0001", "0002", "0003", "0004", "0005", "0006", "0007"}));

    // Under the Oracle dialect an empty text is null and matches every row too.
    qryFilial.Close();
    qryFilial.ParamByName("P_CDFILIAL").setAsString(QString());
    QVERIFY(!qryFilial.ParamByName("P_CDFILIAL").isNull());
    qryFilial.Open();
    QCOMPARE(qryFilial.RecordCount(), 7);

    qryFilial.Close();
    qryFilial.ParamByName("P_CDFILIAL").setAsString("0003");
    qryFilial.Open();
    QCOMPARE(qryFilial.RecordCount(), 1);
    QCOMPARE(qryFilial.FieldByName("NMFILIAL").AsString(), "Filial Vitória da Conquista");

    qryFilial.ParamByName("P_CDFILIAL").setAsString("9999");
    qryFilial.Open();
    QVERIFY(qryFilial.IsEmpty());

    // Elsewhere an empty text is a value like any other and matches no code.
    auto mssql = openDatabase(Dialect::MSSQL, "mssql");
    TADOIBQuery generic("qryGeneric");
    generic.setDatabase(mssql.get());
    generic.SQL = QStringList{"SELECT CDFILIAL FROM FILIAL WHERE CDFILIAL = NVL(:P, CDFILIAL)"};
    generic.ParamByName("P").setAsString(QString());
    generic.Open();
    QVERIFY(generic.IsEmpty());
    generic.ParamByName("P").clear();
    generic.Open();
    QCOMPARE(generic.RecordCount(), 7);
}

void TstAdoIbQuery::allRowsAndOneCodeModes()
{
    TADOIBQuery qryEmpresa("qryEmpresa");
    defineEmpresa(qryEmpresa);
    qryEmpresa.ParamByName("P_TEMPRESA").setAsString("T");
    qryEmpresa.ParamByName("P_EMPRESA").clear();
    qryEmpresa.Open();
    QCOMPARE(column(qryEmpresa, "CDEMPRESA"), (QStringList{"01", "02", "03"}));

    qryEmpresa.Close();
    qryEmpresa.ParamByName("P_EMPRESA").setAsString("02");
    qryEmpresa.ParamByName("P_TEMPRESA").clear();
    qryEmpresa.Open();
    QCOMPARE(qryEmpresa.RecordCount(), 1);
    QCOMPARE(qryEmpresa.FieldByName("NMEMPRESA").AsString(), "Distribuidora São Salvador S.A.");

    // One name used twice in a statement gets the same value at both places.
    TADOIBQuery twice("qryTwice");
    twice.SQL = QStringList{"SELECT CDFILIAL FROM FILIAL",
                            "WHERE (CDFILIAL = :P_X OR :P_X = 'T') AND CDEMPRESA = :P_EMP",
                            "ORDER BY CDFILIAL"};
    twice.ParamByName("P_EMP").setAsString("01");
    twice.ParamByName("P_X").setAsString("T");
    twice.Open();
    QCOMPARE(column(twice, "CDFILIAL"), (QStringList{"0001", "0002", "0003", "0004"}));
    twice.ParamByName("P_X").setAsString("0002");
    twice.Open();
    QCOMPARE(column(twice, "CDFILIAL"), QStringList{"0002"});
}

void TstAdoIbQuery::keyConcatenationAndOrder()
{
    TADOIBQuery qryTipoOperac("qryTipoOperac");
    defineTipoOperac(qryTipoOperac);
    qryTipoOperac.ParamByName("P_TIPOOPER").setAsString("");
    qryTipoOperac.ParamByName("P_TODOS").setAsString("T");
    qryTipoOperac.Open();
    // Exit types in use, ordered by code; 08 is not in use.
    QCOMPARE(column(qryTipoOperac, "CHAVE"), (QStringList{"S01", "S06", "S07", "S10", "S11"}));

    TADOIBQuery qryTpOperacE("qryTpOperacE");
    defineTpOperacE(qryTpOperacE);
    qryTpOperacE.ParamByName("P_TIPOOPER").setAsString("");
    qryTpOperacE.ParamByName("P_TODOS").setAsString("T");
    qryTpOperacE.Open();
    // Entry types in use and used in invoice issue: not 04 (not in issue) nor 05 (not in use).
    QCOMPARE(column(qryTpOperacE, "CHAVE"), (QStringList{"E01", "E02", "E03", "E06", "E10"}));

    qryTpOperacE.ParamByName("P_TIPOOPER").setAsString("06");
    qryTpOperacE.ParamByName("P_TODOS").clear();
    qryTpOperacE.Open();
    QCOMPARE(column(qryTpOperacE, "CHAVE"), QStringList{"E06"});
    QCOMPARE(qryTpOperacE.FieldByName("NMTIPOOPER").AsString(), "Transferência recebida");
}

void TstAdoIbQuery::dialectPicksItsStatement()
{
    auto ib = openDatabase(Dialect::IB, "ib");
    auto mssql = openDatabase(Dialect::MSSQL, "mssql");
    TADOIBQuery q("qrySource");
    q.SQL_ORACLE = QStringList{"SELECT 'oracle' AS SRC"};
    q.SQL_IB = QStringList{"SELECT 'ib' AS SRC"};
    q.SQL = QStringList{"SELECT 'generic' AS SRC"};
    q.Open();
    QCOMPARE(q.FieldByName("SRC").AsString(), "oracle");
    q.setDatabase(ib.get());
    q.Open();
    QCOMPARE(q.FieldByName("SRC").AsString(), "ib");
    q.setDatabase(mssql.get());
    q.Open();
    QCOMPARE(q.FieldByName("SRC").AsString(), "generic");
    q.SQL_IB = QStringList{"  ", ""}; // a blank statement counts as none
    q.setDatabase(ib.get());
    q.Open();
    QCOMPARE(q.FieldByName("SRC").AsString(), "generic");

    TADOIBQuery onlyOracle("qryOnlyOracle");
    onlyOracle.SQL_ORACLE = QStringList{"SELECT 1 AS X"};
    onlyOracle.setDatabase(mssql.get());
    try {
        onlyOracle.Open();
        QFAIL("a query without a statement for its dialect opened");
    } catch (const DatabaseError &e) {
        QCOMPARE(e.queryName(), "qryOnlyOracle");
        QVERIFY2(e.message().contains("qryOnlyOracle") && e.message().contains("MSSQL"),
                 qPrintable(e.message()));
    }
    QVERIFY(!onlyOracle.Active());

    // The IB statement of a real query reaches the database as written: SQLite has no PARAM.
    TADOIBQuery qryFilial("qryFilial");
    defineFilial(qryFilial);
    qryFilial.setDatabase(ib.get());
    try {
        qryFilial.Open();
        QFAIL("the IB statement ran on SQLite");
    } catch (const DatabaseError &e) {
        QVERIFY2(e.databaseMessage().contains("PARAM", Qt::CaseInsensitive),
                 qPrintable(e.message()));
    }
}

void TstAdoIbQuery::errorsCarryQueryAndDatabaseMessage()
{
    TADOIBQuery q("qryBroken");
    q.SQL = QStringList{"SELECT NOSUCHCOLUMN FROM FILIAL"};
    try {
        q.Open();
        QFAIL("a bad statement opened");
    } catch (const DatabaseError &e) {
        QCOMPARE(e.queryName(), "qryBroken");
        QVERIFY2(e.databaseMessage().contains("no such column"), qPrintable(e.message()));
        QVERIFY(e.message().startsWith("qryBroken"));
        QVERIFY(e.message().contains(e.databaseMessage()));
    }

    // A failure after a successful open leaves the query closed, not showing stale rows.
    TADOIBQuery qryFilial("qryFilial");
    defineFilial(qryFilial);
    qryFilial.Open();
    qryFilial.SQL_ORACLE = QStringList{"SELECT CDFILIAL, NMFILIAL FROM NOSUCHTABLE"};
    QVERIFY_THROWS_EXCEPTION(DatabaseError, qryFilial.Open());
    QVERIFY(!qryFilial.Active());
    QCOMPARE(qryFilial.RecordCount(), 0);

    // A query only reads: a writing statement is refused before it runs.
    TADOIBQuery writer("qryWrite");
    writer.SQL = QStringList{"DELETE FROM EMPRESA WHERE CDEMPRESA = :P_EMPRESA"};
    writer.ParamByName("P_EMPRESA").setAsString("03");
    QVERIFY_THROWS_EXCEPTION(DatabaseError, writer.Open());
    QCOMPARE(countRows(m_oracle->connectionName(), "EMPRESA"), 3);
}

void TstAdoIbQuery::parameterTextIsNeverSql()
{
    TADOIBQuery qryFilial("qryFilial");
    defineFilial(qryFilial);
    qryFilial.ParamByName("P_CDFILIAL").setAsString("0001' OR '1'='1");
    qryFilial.Open();
    QVERIFY(qryFilial.IsEmpty());

    TADOIBQuery qryEmpresa("qryEmpresa");
    defineEmpresa(qryEmpresa);
    qryEmpresa.ParamByName("P_EMPRESA").setAsString("01'); DELETE FROM EMPRESA; --");
    qryEmpresa.ParamByName("P_TEMPRESA").setAsString("x' OR 'T");
    qryEmpresa.Open();
    QVERIFY(qryEmpresa.IsEmpty());
    QCOMPARE(countRows(m_oracle->connectionName(), "EMPRESA"), 3);

    TADOIBQuery echo("qryEcho");
    echo.SQL = QStringList{"SELECT :P_TEXT AS TEXTO"};
    const QString tricky = "it's \":P_TEXT\" -- /* ; */";
    echo.ParamByName("P_TEXT").setAsString(tricky);
    echo.Open();
    QCOMPARE(echo.FieldByName("TEXTO").AsString(), tricky);
}

void TstAdoIbQuery::beforeOpenRunsBeforeEachOpen()
{
    TADOIBQuery qryInscrEstad("qryInscrEstad");
    defineInscrEstad(qryInscrEstad);
    QString company = "01";
    int calls = 0;
    qryInscrEstad.BeforeOpen = [&](TADOIBQuery &q) {
        ++calls;
        q.ParamByName("P_CDEMPRESA").setAsString(company);
    };
    qryInscrEstad.ParamByName("P_CDINSCESTA").clear();
    qryInscrEstad.Open();
    QCOMPARE(calls, 1);
    QCOMPARE(column(qryInscrEstad, "CDINSCESTA"),
             (QStringList{"052147836", "061258473", "074369581", "083471692", "271905438"}));
    qryInscrEstad.Close();
    company = "02";
    qryInscrEstad.Open();
    QCOMPARE(calls, 2);
    QCOMPARE(column(qryInscrEstad, "CDINSCESTA"),
             (QStringList{"112583704", "125694815", "136705926"}));
    QCOMPARE(qryInscrEstad.FieldByName("SGESTADO").AsString(), "BA");
    // A registration of another company is not found.
    qryInscrEstad.ParamByName("P_CDINSCESTA").setAsString("052147836");
    qryInscrEstad.Open();
    QVERIFY(qryInscrEstad.IsEmpty());

    qryInscrEstad.BeforeOpen = [](TADOIBQuery &) {
        throw HostError("stop");
    };
    QVERIFY_THROWS_EXCEPTION(HostError, qryInscrEstad.Open());
    QVERIFY(!qryInscrEstad.Active());
}

void TstAdoIbQuery::parametersAndCursor()
{
    TADOIBQuery q("qryParams");
    q.SQL_ORACLE = QStringList{"SELECT CDEMPRESA FROM EMPRESA WHERE :P_A IS NULL ORDER BY 1"};
    q.SQL_IB = QStringList{"SELECT 1 AS X FROM PARAM(:P_B) P"};
    QCOMPARE(q.paramNames(), (QStringList{"P_A", "P_B"}));
    QueryParam &a = q.ParamByName("P_A");
    QVERIFY(a.isNull());
    QCOMPARE(&q.ParamByName(":p_a"), &a);
    q.ParamByName("P_B").setAsString("b");
    QCOMPARE(&q.ParamByName("P_A"), &a);
    try {
        q.ParamByName("P_NOPE");
        QFAIL("an unknown parameter was given");
    } catch (const DatabaseError &e) {
        QVERIFY(e.message().contains("P_NOPE") && e.queryName() == "qryParams");
    }

    QVERIFY(q.Eof());
    QVERIFY_THROWS_EXCEPTION(DatabaseError, q.First());
    QVERIFY_THROWS_EXCEPTION(DatabaseError, q.FieldByName("CDEMPRESA"));
    q.Open();
    int seen = 0;
    for (; !q.Eof(); q.Next())
        ++seen;
    QCOMPARE(seen, 3);
    q.First();
    QCOMPARE(q.FieldByName("cdempresa").AsString(), "01");

    // Values last across Close and Open until set again.
    a.setAsString("x");
    q.Close();
    QVERIFY(q.IsEmpty());
    QVERIFY_THROWS_EXCEPTION(DatabaseError, q.Next());
    q.Open();
    QVERIFY(q.IsEmpty());
    a.clear();
    q.Open();
    QCOMPARE(q.RecordCount(), 3);
}

void TstAdoIbQuery::fields()
{
    TADOIBQuery qryImposto("qryImposto");
    qryImposto.SQL = QStringList{
        "SELECT CDIMPOSTONFE, SGIMPOSTONFE, IDORGARRECADNFE", "FROM IMPOSTONFE",
        "WHERE (CDIMPOSTONFE = :P_CDIMPOSTO OR :P_TIMPOSTO = 'T')", "ORDER BY CDIMPOSTONFE"};
    qryImposto.addField(textField("CDIMPOSTONFE", 2, "Código", true, true));
    qryImposto.addField(textField("SGIMPOSTONFE", 10, "Sigla"));
    qryImposto.ParamByName("P_TIMPOSTO").setAsString("T");
    qryImposto.Open();
    const MemTable *t = qryImposto.table();
    QCOMPARE(t->recordCount(), 6);
    QCOMPARE(t->fieldCount(), 3);
    QCOMPARE(t->field(0).displayLabel(), "Código");
    QVERIFY(t->field(0).required);
    QCOMPARE(t->field(1).displayLabel(), "Sigla");
    // A selected column that was not declared is kept, hidden.
    QCOMPARE(t->field(2).name, "IDORGARRECADNFE");
    QVERIFY(!t->field(2).visible);
    QCOMPARE(qryImposto.FieldByName("idorgarrecadnfe").AsString(), "E");
    QVERIFY_THROWS_EXCEPTION(DatabaseError, qryImposto.addField(textField("X", 1)));

    // Without declarations the result's columns are the fields, typed by their values.
    TADOIBQuery bare("qryBare");
    bare.SQL = QStringList{"SELECT CDFILIAL, DTPROCESSAMENTO, 1.5 AS VALOR, 42 AS INTEIRO, "
                           "NULL AS NADA, '1,5 kg' AS TEXTO FROM FILIAL WHERE CDFILIAL = '0003'"};
    bare.Open();
    QCOMPARE(bare.table()->fieldCount(), 6);
    QVERIFY(bare.table()->field(1).visible);
    QCOMPARE(bare.FieldByName("DTPROCESSAMENTO").AsDateTime(),
             QDateTime(QDate(2025, 4, 30), QTime(0, 0)));
    QCOMPARE(bare.FieldByName("VALOR").AsFloat(), 1.5);
    QCOMPARE(bare.FieldByName("INTEIRO").AsString(), "42");
    QVERIFY(bare.FieldByName("NADA").IsNull());
    QCOMPARE(bare.FieldByName("NADA").AsFloat(), 0.0);
    QVERIFY(!bare.FieldByName("NADA").AsDateTime().isValid());
    QVERIFY_THROWS_EXCEPTION(DatabaseError, bare.FieldByName("TEXTO").AsFloat());
    QVERIFY_THROWS_EXCEPTION(DatabaseError, bare.FieldByName("TEXTO").AsDateTime());
    QVERIFY_THROWS_EXCEPTION(DatabaseError, bare.FieldByName("NOPE"));

    // Declared fields the result cannot fill are faults of the query, not lost data.
    TADOIBQuery missing("qryMissing");
    missing.SQL = QStringList{"SELECT CDEMPRESA FROM EMPRESA"};
    missing.addField(textField("NMEMPRESA", 40));
    try {
        missing.Open();
        QFAIL("a declared field missing from the result was accepted");
    } catch (const DatabaseError &e) {
        QVERIFY(e.message().contains("NMEMPRESA"));
    }
    TADOIBQuery narrow("qryNarrow");
    narrow.SQL = QStringList{"SELECT NMEMPRESA FROM EMPRESA"};
    narrow.addField(textField("NMEMPRESA", 5));
    QVERIFY_THROWS_EXCEPTION(DataSetError, narrow.Open());
    QVERIFY(!narrow.Active());
    FieldDef notDate = textField("NMEMPRESA", 0);
    notDate.type = FieldType::DateTime;
    narrow.clearFields();
    narrow.addField(notDate);
    QVERIFY_THROWS_EXCEPTION(DatabaseError, narrow.Open());
}

void TstAdoIbQuery::connection()
{
    QSqlQuery nvl(m_oracle->database());
    QVERIFY(nvl.exec("SELECT NVL(NULL, 'b'), NVL('a', 'b'), NVL(NULL, NULL)") && nvl.next());
    QCOMPARE(nvl.value(0).toString(), "b");
    QCOMPARE(nvl.value(1).toString(), "a");
    QVERIFY(nvl.value(2).isNull());
    nvl.finish();

    // NVL is there on every connection, also after closing and opening again.
    auto other = openDatabase(std::nullopt, "reopened");
    other->close();
    other->open();
    QSqlQuery again(other->database());
    QVERIFY(again.exec("SELECT NVL(NULL, 7)") && again.next());
    QCOMPARE(again.value(0).toInt(), 7);
    again.finish();

    HostConfig missing;
    missing.databaseName = m_dir.filePath("nowhere.db");
    HostDatabase absent(missing, "absent");
    QVERIFY_THROWS_EXCEPTION(DatabaseError, absent.open());
    QVERIFY(!QFile::exists(missing.databaseName));
    // A query on a connection that cannot open names itself and the cause, once.
    TADOIBQuery viaAbsent("qryAbsent");
    viaAbsent.SQL = QStringList{"SELECT 1 AS X"};
    viaAbsent.setDatabase(&absent);
    try {
        viaAbsent.Open();
        QFAIL("a query opened on a missing database file");
    } catch (const DatabaseError &e) {
        QCOMPARE(e.queryName(), "qryAbsent");
        QCOMPARE(e.message().count("nowhere.db"), 1);
    }

    HostConfig noDriver;
    noDriver.databaseDriver = "QNOSUCHDRIVER";
    noDriver.dialect = Dialect::Oracle;
    QVERIFY_THROWS_EXCEPTION(DatabaseError, HostDatabase(noDriver, "nodriver"));
    QVERIFY_THROWS_EXCEPTION(DatabaseError,
                             HostDatabase(missing, HostDatabase::defaultConnectionName()));

    HostDatabase::setCurrent(nullptr);
    QVERIFY_THROWS_EXCEPTION(DatabaseError, viaAbsent.Open());
}

void TstAdoIbQuery::busyTimeoutApplies()
{
    // A rollback-journal database, where a writer's exclusive lock keeps readers out.
    const QString path = m_dir.filePath("locked.db");
    {
        QSqlDatabase setup = QSqlDatabase::addDatabase("QSQLITE", "setup");
        setup.setDatabaseName(path);
        QVERIFY(setup.open());
        QSqlQuery q(setup);
        QVERIFY(q.exec("CREATE TABLE T (C TEXT)") && q.exec("INSERT INTO T VALUES ('x')"));
    }
    QSqlDatabase::removeDatabase("setup");

    std::atomic<bool> locked{false};
    auto holdLock = [&](int ms) {
        {
            QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "locker");
            db.setDatabaseName(path);
            db.open();
            QSqlQuery q(db);
            q.exec("BEGIN EXCLUSIVE");
            locked = true;
            std::this_thread::sleep_for(std::chrono::milliseconds(ms));
            q.exec("COMMIT");
        }
        QSqlDatabase::removeDatabase("locker");
    };
    qint64 waited = 0;
    auto readWhileLocked = [&](int timeoutMs, int lockMs, const QString &connection) {
        HostConfig config;
        config.databaseName = path;
        config.busyTimeoutMs = timeoutMs;
        HostDatabase db(config, connection);
        TADOIBQuery q("qryLocked");
        q.SQL = QStringList{"SELECT C FROM T"};
        q.setDatabase(&db);
        locked = false;
        std::thread locker(holdLock, lockMs);
        while (!locked)
            std::this_thread::yield();
        QString result;
        QElapsedTimer timer;
        timer.start();
        try {
            q.Open();
            result = q.FieldByName("C").AsString();
        } catch (const DatabaseError &e) {
            result = e.databaseMessage();
        }
        waited = timer.elapsed();
        locker.join();
        return result;
    };

    QVERIFY(readWhileLocked(50, 1200, "impatient").contains("locked"));
    QVERIFY2(waited < 900, "the configured busy timeout was not used");
    QCOMPARE(readWhileLocked(10000, 300, "patient"), "x");
}

void TstAdoIbQuery::processingDate()
{
    const HostConfig saved = HostConfig::current();
    HostConfig config = saved;
    config.branch = "0001";
    HostConfig::setCurrent(config);
    QCOMPARE(FiliProc(), "0001");
    QCOMPARE(DataProc(FiliProc()), QDate(2025, 5, 20));
    QCOMPARE(PriDiaMes(DataProc(FiliProc())), QDate(2025, 5, 1));
    QCOMPARE(DataProc("0003"), QDate(2025, 4, 30));
    QCOMPARE(DataProc(*m_oracle, "0006"), QDate(2025, 5, 12));
    try {
        DataProc("9999");
        QFAIL("an unknown branch gave a date");
    } catch (const HostError &e) {
        QVERIFY(e.message().contains("9999"));
    }
    QVERIFY_THROWS_EXCEPTION(HostError, DataProc(QString()));
    HostDatabase::setCurrent(nullptr);
    QVERIFY_THROWS_EXCEPTION(DatabaseError, DataProc("0001"));
    HostConfig::setCurrent(saved);
}

QTEST_GUILESS_MAIN(TstAdoIbQuery)
#include "tst_adoibquery.moc"
