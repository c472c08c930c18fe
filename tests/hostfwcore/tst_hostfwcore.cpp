#include "hostfw/editmask.h"
#include "hostfw/hostconfig.h"
#include "hostfw/hosterror.h"
#include "hostfw/hosthelpers.h"
#include "hostfw/messages.h"
#include "hostfw/sqlparams.h"

#include "hostfw/hostdatabase.h"

#include <QFile>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

using namespace fis;

class TstHostFwCore : public QObject
{
    Q_OBJECT
private slots:
    void emptyString();
    void ajusta_data();
    void ajusta();
    void ajustaInscricao_data();
    void ajustaInscricao();
    void priDiaMes();

    void masksOfTheForms();
    void maskOptions();
    void formatMaskText_data();
    void formatMaskText();
    void registrationRoundTrip_data();
    void registrationRoundTrip();

    void messages();
    void positionalSql_data();
    void positionalSql();

    void configRoundTrip();
    void configErrors_data();
    void configErrors();
    void configReadAsWritten();
    void configLayersUsersOverSystems();
    void configPassword_data();
    void configPassword();
    void configRefusesAPassword();
    void passwordNeverInMessages_data();
    void passwordNeverInMessages();
    void clientSecretSources();
};

void TstHostFwCore::emptyString()
{
    QVERIFY(EmptyString(QString()));
    QVERIFY(EmptyString("  \t\r\n"));
    QVERIFY(!EmptyString("0"));
    QVERIFY(!EmptyString("  a "));
}

void TstHostFwCore::ajusta_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("width");
    QTest::addColumn<QString>("result");
    QTest::newRow("one digit to four") << "1" << 4 << "0001";
    QTest::newRow("letters keep their place") << "A1" << 4 << "00A1";
    QTest::newRow("exact width") << "0012" << 4 << "0012";
    QTest::newRow("longer is not cut") << "12345" << 4 << "12345";
    QTest::newRow("width 0 keeps the number") << "123456" << 0 << "123456";
    QTest::newRow("negative width") << "5" << -3 << "5";
}

void TstHostFwCore::ajusta()
{
    QFETCH(QString, text);
    QFETCH(int, width);
    QFETCH(QString, result);
    QCOMPARE(Ajusta(text, width), result);
}

void TstHostFwCore::ajustaInscricao_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("textAfter");
    QTest::newRow("CNPJ digits") << "12345678000195"
                                 << "J"
                                 << "12345678000195";
    QTest::newRow("CNPJ masked") << "12.345.678/0001-95"
                                 << "J"
                                 << "12345678000195";
    QTest::newRow("CPF masked, blanks around") << " 123.456.789-01 "
                                               << "F"
                                               << "12345678901";
    QTest::newRow("13 digits") << "1234567890123"
                               << "O"
                               << "1234567890123";
    QTest::newRow("15 digits") << "123456789012345"
                               << "O"
                               << "123456789012345";
    QTest::newRow("letter among 11 digits") << "1234567890A1"
                                            << "O"
                                            << "1234567890A1";
    QTest::newRow("empty") << ""
                           << "O"
                           << "";
}

void TstHostFwCore::ajustaInscricao()
{
    QFETCH(QString, text);
    QFETCH(QString, code);
    QFETCH(QString, textAfter);
    QCOMPARE(Ajusta_Inscricao(text), code);
    QCOMPARE(text, textAfter);
}

void TstHostFwCore::priDiaMes()
{
    QCOMPARE(PriDiaMes(QDate(2025, 5, 20)), QDate(2025, 5, 1));
    QCOMPARE(PriDiaMes(QDate(2024, 2, 29)), QDate(2024, 2, 1));
    QCOMPARE(PriDiaMes(QDate(2024, 12, 1)), QDate(2024, 12, 1));
    QVERIFY(!PriDiaMes(QDate()).isValid());
}

// The masks the screen and the filter dialog use.
void TstHostFwCore::masksOfTheForms()
{
    const EditMask code("99;0; ");
    QCOMPARE(code.length(), 2);
    QVERIFY(code.accepts(0, u'7'));
    QVERIFY(!code.accepts(0, u'a'));
    QVERIFY(!code.accepts(2, u'1'));
    QCOMPARE(code.displayText("1"), "1 ");
    // What the edit yields carries no blanks, so Ajusta sees "1" and gives "01".
    QCOMPARE(code.value(" 1"), "1");
    QCOMPARE(code.value("  "), "");
    QVERIFY(code.isComplete("  "));

    const EditMask branch(">aaaa;0; ");
    QVERIFY(branch.accepts(1, u'ç'));
    QVERIFY(branch.accepts(3, u'9'));
    QVERIFY(!branch.accepts(0, u'-'));
    QCOMPARE(branch.convert(0, u'x'), QChar(u'X'));
    QCOMPARE(branch.displayText("ab1"), "AB1 ");
    QCOMPARE(branch.value("AB1 "), "AB1");

    const EditMask number("99999999999999999999;0; ");
    QCOMPARE(number.editPositionCount(), 20);
    QCOMPARE(number.displayText("123456"), "123456" + QString(14, u' '));
    QCOMPARE(number.value(number.displayText("12345678901234567890")), "12345678901234567890");

    const EditMask cnpj("99.999.999/9999-99;0; ");
    QCOMPARE(cnpj.length(), 18);
    QCOMPARE(cnpj.editPositionCount(), 14);
    QCOMPARE(cnpj.literalAt(10), QChar(u'/'));
    QVERIFY(!cnpj.isLiteral(0));
    QVERIFY(!cnpj.accepts(2, u'.'));
    QCOMPARE(cnpj.displayText("123"), "12.3  .   /    -  ");
    QCOMPARE(cnpj.value("12.3  .   /    -  "), "123");

    const EditMask cpf("999.999.999-99;0; ");
    QCOMPARE(cpf.literalAt(11), QChar(u'-'));
    QCOMPARE(cpf.value("123.456.789-01"), "12345678901");
    QCOMPARE(cpf.toQtInputMask(), "000.000.000-00; ");
}

void TstHostFwCore::maskOptions()
{
    const EditMask kept("99/99;1;_");
    QVERIFY(kept.keepsLiterals());
    QCOMPARE(kept.displayText("1"), "1_/__");
    QCOMPARE(kept.value("12/34"), "12/34");
    QCOMPARE(kept.value("1_/2_"), "1 /2");
    QCOMPARE(EditMask("99").blank(), QChar(u'_'));

    const EditMask required("00-LL;0;_");
    QVERIFY(required.isRequired(0));
    QVERIFY(!required.accepts(3, u'1'));
    QVERIFY(required.isComplete("12-AB"));
    QVERIFY(!required.isComplete("1_-AB"));
    QCOMPARE(required.toQtInputMask(), "99-AA;_");

    const EditMask escaped("\\99#;0; ");
    QCOMPARE(escaped.literalAt(0), QChar(u'9'));
    QCOMPARE(escaped.displayText("5"), "95#");
    QCOMPARE(escaped.value("95#"), "5");
    QCOMPARE(escaped.toQtInputMask(), "\\90\\#; ");

    QCOMPARE(EditMask("<ll<>ll>ll;0;_").displayText("ABcdef"), "abcdEF");
    QCOMPARE(EditMask().value("free text"), "free text");
}

void TstHostFwCore::formatMaskText_data()
{
    QTest::addColumn<QString>("mask");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("text");
    QTest::newRow("CNPJ") << "99.999.999/9999-99;0; "
                          << "12345678000195"
                          << "12.345.678/0001-95";
    QTest::newRow("CPF") << "999.999.999-99;0; "
                         << "12345678901"
                         << "123.456.789-01";
    QTest::newRow("no mask") << ""
                             << "AB-998877"
                             << "AB-998877";
    QTest::newRow("longer value is cut at the mask") << "99;0; "
                                                     << "123"
                                                     << "12";
}

void TstHostFwCore::formatMaskText()
{
    QFETCH(QString, mask);
    QFETCH(QString, value);
    QFETCH(QString, text);
    QCOMPARE(FormatMaskText(mask, value), text);
}

// A registration shown under its person type's mask must come back in the stored form, which
// the client validation compares with CLIENTE.NRINSJURCLIE.
void TstHostFwCore::registrationRoundTrip_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("code");
    QTest::newRow("CNPJ") << "07526557000100"
                          << "J";
    QTest::newRow("CPF") << "52998224725"
                         << "F";
}

void TstHostFwCore::registrationRoundTrip()
{
    QFETCH(QString, stored);
    QFETCH(QString, code);
    QString copy = stored;
    QCOMPARE(Ajusta_Inscricao(copy), code);
    const EditMask mask(PictPess(code));
    QCOMPARE(mask.editPositionCount(), stored.size());
    const QString shown = mask.displayText(stored);
    QVERIFY(shown != stored);
    QCOMPARE(mask.value(shown), stored);
    QString typed = shown;
    QCOMPARE(Ajusta_Inscricao(typed), code);
    QCOMPARE(PictPess(code.toLower() + " "), PictPess(code));
    QVERIFY(PictPess("O").isEmpty());
}

void TstHostFwCore::messages()
{
    const TMessages table({"Impo_Inf|Imposto deve ser informado.", "", "Pipe|a|b",
                           "Filial_Cad|Filial não cadastrada."});
    QCOMPARE(table.count(), 3);
    QCOMPARE(table.Msg("Impo_Inf"), "Imposto deve ser informado.");
    QCOMPARE(table.Msg("Pipe"), "a|b");
    QVERIFY(!table.contains("filial_cad"));
    try {
        table.Msg("Nao_Existe");
        QFAIL("an unknown key gave a text");
    } catch (const HostError &e) {
        QVERIFY(e.message().contains("Nao_Existe"));
    }
    QVERIFY_THROWS_EXCEPTION(HostError, TMessages({"Impo_Inf Imposto deve ser informado."}));
    QVERIFY_THROWS_EXCEPTION(HostError, TMessages({"|texto"}));
    QVERIFY_THROWS_EXCEPTION(HostError, TMessages({"A|um", "A|dois"}));
}

void TstHostFwCore::positionalSql_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QString>("positional");
    QTest::addColumn<QStringList>("names");
    QTest::newRow("same name twice") << "(C = :P_X OR :p_x = 'T')"
                                     << "(C = ? OR ? = 'T')" << QStringList{"P_X", "P_X"};
    QTest::newRow("colon in a literal")
        << "WHERE H = '12:30' AND 'it''s :N' = :P"
        << "WHERE H = '12:30' AND 'it''s :N' = ?" << QStringList{"P"};
    QTest::newRow("quoted identifier") << "SELECT \":X\" FROM T WHERE A = :Y"
                                       << "SELECT \":X\" FROM T WHERE A = ?" << QStringList{"Y"};
    QTest::newRow("comments") << "SELECT 1 -- :A\n/* :B */ WHERE C = :C"
                              << "SELECT 1 -- :A\n/* :B */ WHERE C = ?" << QStringList{"C"};
    QTest::newRow("PostgreSQL cast") << "SELECT :P::text"
                                     << "SELECT ?::text" << QStringList{"P"};
    QTest::newRow("question mark in a literal") << "SELECT '?'"
                                                << "SELECT '?'" << QStringList{};
}

void TstHostFwCore::positionalSql()
{
    QFETCH(QString, sql);
    QFETCH(QString, positional);
    QFETCH(QStringList, names);
    const PositionalSql result = toPositionalSql(sql);
    QCOMPARE(result.sql, positional);
    QCOMPARE(result.names, names);
    // A bare "?" could not be told apart from the named values.
    QVERIFY_THROWS_EXCEPTION(DatabaseError, toPositionalSql(sql + " AND Z = ?"));
}

void TstHostFwCore::configRoundTrip()
{
    QTemporaryDir dir;
    HostConfig config;
    config.databaseDriver = "QPSQL";
    config.databaseName = "fiscal";
    config.databaseHost = "db.local";
    config.databasePort = 5433;
    config.databaseUser = "fis";
    config.databasePasswordFile = "/run/fis/s;e=c|r]e#t";
    config.databasePasswordEnv = "FIS_HOST_PASSWORD";
    config.dialect = Dialect::MSSQL;
    config.busyTimeoutMs = 1234;
    config.serverHost = "app.local";
    config.serverPort = 21100;
    config.serverClient = "caixa-01";
    config.serverSecretEnv = "FIS_CAIXA_SECRET";
    config.serverTls = true;
    config.serverCaFile = "/etc/fis11000/ca.pem";
    config.serverFingerprint = "ab:cd";
    config.branch = "0004";
    const QString path = dir.filePath("host.ini");
    config.save(path);

    const HostConfig loaded = HostConfig::load(path);
    QCOMPARE(loaded.databaseDriver, config.databaseDriver);
    QCOMPARE(loaded.databaseName, config.databaseName);
    QCOMPARE(loaded.databaseHost, config.databaseHost);
    QCOMPARE(loaded.databasePort, 5433);
    QCOMPARE(loaded.databaseUser, config.databaseUser);
    QCOMPARE(loaded.databasePasswordFile, config.databasePasswordFile);
    QCOMPARE(loaded.databasePasswordEnv, config.databasePasswordEnv);
    QCOMPARE(loaded.effectiveDialect(), Dialect::MSSQL);
    QCOMPARE(loaded.busyTimeoutMs, 1234);
    QCOMPARE(loaded.serverHost, config.serverHost);
    QCOMPARE(loaded.serverPort, 21100);
    QCOMPARE(loaded.serverClient, config.serverClient);
    QCOMPARE(loaded.serverSecretEnv, config.serverSecretEnv);
    QCOMPARE(loaded.serverTls, true);
    QCOMPARE(loaded.serverCaFile, config.serverCaFile);
    QCOMPARE(loaded.serverFingerprint, config.serverFingerprint);
    QCOMPARE(loaded.branch, config.branch);

    // A hand-written file: a relative SQLite name, no dialect, no ports.
    {
        QSettings ini(path, QSettings::IniFormat);
        ini.clear();
        ini.setValue("Database/Name", "data/host.db");
    }
    HostConfig sqlite = HostConfig::load(path);
    QCOMPARE(sqlite.databaseName, dir.filePath("data/host.db"));
    QCOMPARE(sqlite.effectiveDialect(), Dialect::Oracle);
    QCOMPARE(sqlite.databasePort, -1);
    QCOMPARE(sqlite.serverPort, 0);
    sqlite.databaseDriver = "QIBASE";
    QCOMPARE(sqlite.effectiveDialect(), Dialect::IB);
    sqlite.databaseDriver = "QODBC";
    QVERIFY_THROWS_EXCEPTION(ConfigError, sqlite.effectiveDialect());
    QCOMPARE(dialectFromName(" mssql "), Dialect::MSSQL);
}

void TstHostFwCore::configErrors_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::newRow("port not a number") << "Server/Port"
                                       << "http";
    QTest::newRow("port out of range") << "Database/Port"
                                       << "70000";
    QTest::newRow("unknown dialect") << "Database/Dialect"
                                     << "DB2";
    QTest::newRow("negative timeout") << "Database/BusyTimeoutMs"
                                      << "-5";
    QTest::newRow("unknown locale") << "Host/Locale"
                                    << "Klingon";
}

void TstHostFwCore::configErrors()
{
    QFETCH(QString, key);
    QFETCH(QString, value);
    QTemporaryDir dir;
    const QString path = dir.filePath("host.ini");
    QSettings(path, QSettings::IniFormat).setValue(key, value);
    try {
        HostConfig::load(path);
        QFAIL("a bad value was accepted");
    } catch (const ConfigError &e) {
        QVERIFY2(e.message().contains(value), qPrintable(e.message()));
    }
    QVERIFY_THROWS_EXCEPTION(ConfigError, HostConfig::load(dir.filePath("none.ini")));
}

void TstHostFwCore::configLayersUsersOverSystems()
{
    QTemporaryDir system;
    QTemporaryDir user;
    const auto write = [](const QString &path, const QByteArray &text) {
        QFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
    };
    const QString systemFile = system.filePath("fis-host.ini");
    const QString userFile = user.filePath("fis-host.ini");
    QVERIFY(write(systemFile, "[Database]\nName=shared.sqlite\nBusyTimeoutMs=9000\n"
                              "[Server]\nHost=10.0.0.5\nPort=4711\nCaFile=ca.pem\n"
                              "[Host]\nBranch=0001\n"));
    QVERIFY(write(userFile, "[Server]\nPort=4712\nSecretFile=secret\n[Host]\nBranch=0003\n"));

    // Key by key: the user's keys win, the system's fill the rest, and each relative path is
    // taken from the folder of the file that gave it.
    const HostConfig both = HostConfig::load(QStringList{systemFile, userFile});
    QCOMPARE(both.serverPort, 4712);
    QCOMPARE(both.branch, QStringLiteral("0003"));
    QCOMPARE(both.serverHost, QStringLiteral("10.0.0.5"));
    QCOMPARE(both.busyTimeoutMs, 9000);
    QCOMPARE(both.databaseName, system.filePath("shared.sqlite"));
    QCOMPARE(both.serverCaFile, system.filePath("ca.pem"));
    QCOMPARE(both.serverSecretFile, user.filePath("secret"));

    // A bad value is reported against the file that holds it.
    QVERIFY(write(userFile, "[Server]\nPort=99999\n"));
    try {
        HostConfig::load(QStringList{systemFile, userFile});
        QFAIL("a bad port was accepted");
    } catch (const ConfigError &e) {
        QVERIFY2(e.message().startsWith(userFile + u':'), qPrintable(e.message()));
    }

    // Without a file named: the user's under $XDG_CONFIG_HOME, then the working folder's.
    QTemporaryDir home;
    QTemporaryDir work;
    const QByteArray oldHome = qgetenv("XDG_CONFIG_HOME");
    const QString oldWork = QDir::currentPath();
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.path()));
    QDir::setCurrent(work.path());
    const QStringList none = [] {
        try {
            return HostConfig::defaultFiles();
        } catch (const ConfigError &e) {
            return QStringList{QStringLiteral("error: ") + e.message()};
        }
    }();
    QVERIFY(QDir(home.path()).mkpath("fis11000"));
    QVERIFY(write(home.filePath("fis11000/fis-host.ini"), "[Host]\nBranch=0007\n"));
    QVERIFY(write(work.filePath("fis-host.ini"), "[Server]\nPort=4713\n"));
    const QStringList found = HostConfig::defaultFiles();
    QDir::setCurrent(oldWork);
    qputenv("XDG_CONFIG_HOME", oldHome);

    QCOMPARE(none.size(), 1);
    QVERIFY2(none.first().contains(home.filePath("fis11000/fis-host.ini")),
             qPrintable(none.first()));
    QCOMPARE(found, (QStringList{home.filePath("fis11000/fis-host.ini"),
                                 QDir(work.path()).absoluteFilePath("fis-host.ini")}));
    const HostConfig layered = HostConfig::load(found);
    QCOMPARE(layered.branch, QStringLiteral("0007"));
    QCOMPARE(layered.serverPort, 4713);
}

void TstHostFwCore::configReadAsWritten()
{
    QTemporaryDir dir;
    // Unquoted commas, which the ini reader would take for a list.
    const QString path = dir.filePath("host.ini");
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("[Database]\nUser=fis,fiscal\nPasswordFile=se,cr,et\n[Host]\nBranch=0004\n");
    file.close();
    const HostConfig loaded = HostConfig::load(path);
    QCOMPARE(loaded.databaseUser, QStringLiteral("fis,fiscal"));
    // A relative password file is taken relative to the ini file's folder.
    QCOMPARE(loaded.databasePasswordFile, dir.filePath("se,cr,et"));
    QCOMPARE(loaded.branch, QStringLiteral("0004"));
    QCOMPARE(loaded.locale, QStringLiteral("pt_BR")); // the default when the file names none

    // What is wrong with a file that is not one is said as it is.
    const auto problem = [](const QString &name) {
        try {
            HostConfig::load(name);
        } catch (const ConfigError &e) {
            return e.message();
        }
        return QString();
    };
    QCOMPARE(problem(dir.path()),
             QStringLiteral("O arquivo de configuração %1 é um diretório.").arg(dir.path()));
    QCOMPARE(problem(QStringLiteral("/dev/null")),
             QStringLiteral("O arquivo de configuração /dev/null não é um arquivo comum."));
    QCOMPARE(
        problem(dir.filePath("none.ini")),
        QStringLiteral("O arquivo de configuração %1 não existe.").arg(dir.filePath("none.ini")));
}

// Where the password of the database connection comes from; the ini file only says where.
void TstHostFwCore::configPassword_data()
{
    QTest::addColumn<QString>("ini");       // the [Database] lines; FILE is a password file
    QTest::addColumn<QString>("password");  // what the connection gets
    QTest::addColumn<QString>("errorPart"); // else a ConfigError naming this
    QTest::newRow("from a file, its line break left out") << "PasswordFile=FILE"
                                                          << "pa ss;w=rd"
                                                          << "";
    QTest::newRow("from an environment variable") << "PasswordEnv=FIS_TEST_HOST_PASSWORD"
                                                  << "from-the-environment"
                                                  << "";
    QTest::newRow("the file before the variable")
        << "PasswordFile=FILE\nPasswordEnv=FIS_TEST_HOST_PASSWORD"
        << "pa ss;w=rd"
        << "";
    QTest::newRow("a missing file") << "PasswordFile=no-such-file"
                                    << ""
                                    << "no-such-file";
    QTest::newRow("an unset variable") << "PasswordEnv=FIS_TEST_UNSET_PASSWORD"
                                       << ""
                                       << "FIS_TEST_UNSET_PASSWORD";
}

void TstHostFwCore::configPassword()
{
    QFETCH(QString, ini);
    QFETCH(QString, password);
    QFETCH(QString, errorPart);
    QTemporaryDir dir;
    QFile secret(dir.filePath("db-password"));
    QVERIFY(secret.open(QIODevice::WriteOnly));
    secret.write("pa ss;w=rd\n");
    secret.close();
    qputenv("FIS_TEST_HOST_PASSWORD", "from-the-environment");
    qunsetenv("FIS_TEST_UNSET_PASSWORD");
    const QString path = dir.filePath("host.ini");
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("[Database]\nDriver=QPSQL\nName=fis\n" +
               QString(ini).replace("FILE", secret.fileName()).toUtf8() + '\n');
    file.close();

    const HostConfig config = HostConfig::load(path);
    if (errorPart.isEmpty()) {
        QCOMPARE(config.databasePassword(), password);
    } else {
        try {
            config.databasePassword();
            QFAIL("a password that cannot be read was given");
        } catch (const ConfigError &e) {
            QVERIFY2(e.message().contains(errorPart), qPrintable(e.message()));
        }
    }
    // Saving writes where the password comes from, never the password.
    config.save(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString saved = QString::fromUtf8(file.readAll());
    QVERIFY2(!saved.contains("pa ss;w=rd") && !saved.contains("from-the-environment"),
             qPrintable(saved));
    QVERIFY2(!saved.contains(QRegularExpression("^Password=", QRegularExpression::MultilineOption)),
             qPrintable(saved));
    QCOMPARE(HostConfig::load(path).databasePasswordFile, config.databasePasswordFile);
}

void TstHostFwCore::configRefusesAPassword()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("host.ini");
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("[Database]\nDriver=QPSQL\nUser=fis\nPassword=topsecret\n");
    file.close();
    try {
        HostConfig::load(path);
        QFAIL("a password in the configuration file was accepted");
    } catch (const ConfigError &e) {
        QVERIFY2(e.message().contains("PasswordFile") && e.message().contains("PasswordEnv") &&
                     e.message().contains(path),
                 qPrintable(e.message()));
        QVERIFY2(!e.message().contains("topsecret"), qPrintable(e.message()));
    }
}

// A connection that cannot open says why, without the password it was given.
void TstHostFwCore::passwordNeverInMessages_data()
{
    QTest::addColumn<QString>("driver");
    QTest::newRow("PostgreSQL") << "QPSQL";
    QTest::newRow("Firebird") << "QIBASE";
}

void TstHostFwCore::passwordNeverInMessages()
{
    QFETCH(QString, driver);
    qputenv("FIS_TEST_HOST_PASSWORD", "Unl1kely-Pa55word");
    HostConfig config;
    config.databaseDriver = driver;
    config.databaseHost = "127.0.0.1";
    config.databasePort = 1; // nobody listens there
    config.databaseName = "fis";
    config.databaseUser = "fis";
    config.databasePasswordEnv = "FIS_TEST_HOST_PASSWORD";
    HostDatabase database(config, "unreachable-" + driver);
    QCOMPARE(database.dialect(), driver == "QIBASE" ? Dialect::IB : Dialect::Oracle);
    try {
        database.open();
        QFAIL("a connection to a closed port opened");
    } catch (const DatabaseError &e) {
        QVERIFY2(e.message().contains("fis"), qPrintable(e.message()));
        QVERIFY2(!e.message().contains("Unl1kely-Pa55word"), qPrintable(e.message()));
    }
    QVERIFY(database.database().password().isEmpty());
}

void TstHostFwCore::clientSecretSources()
{
    QTemporaryDir dir;
    const QString secretPath = dir.filePath("caixa.secret");
    {
        QFile secret(secretPath);
        QVERIFY(secret.open(QIODevice::WriteOnly));
        secret.write("s3gredo do caixa\n");
    }
    const QString ini = dir.filePath("host.ini");
    {
        QFile file(ini);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(
            "[Server]\nHost=app.local\nPort=21100\nClient=caixa-01\nSecretFile=caixa.secret\n");
    }
    HostConfig config = HostConfig::load(ini);
    QCOMPARE(config.serverClient, QStringLiteral("caixa-01"));
    QCOMPARE(config.serverSecretFile, secretPath); // beside the ini file
    // Readable by others: refused, without the secret in the message.
    QFile::setPermissions(secretPath, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                          QFileDevice::ReadOther);
    try {
        config.serverSecret();
        QFAIL("a secret others may read was taken");
    } catch (const ConfigError &e) {
        QVERIFY2(e.message().contains("chmod 600") && !e.message().contains("s3gredo"),
                 qPrintable(e.message()));
    }
    QFile::setPermissions(secretPath, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    QCOMPARE(config.serverSecret(), QByteArray("s3gredo do caixa"));
    // From the environment; neither configured is an error.
    config.serverSecretFile.clear();
    config.serverSecretEnv = "FIS_TEST_CAIXA_SECRET";
    qputenv("FIS_TEST_CAIXA_SECRET", "do ambiente");
    QCOMPARE(config.serverSecret(), QByteArray("do ambiente"));
    qunsetenv("FIS_TEST_CAIXA_SECRET");
    QVERIFY_THROWS_EXCEPTION(ConfigError, config.serverSecret());
    config.serverSecretEnv.clear();
    QVERIFY_THROWS_EXCEPTION(ConfigError, config.serverSecret());
    // The secret itself never goes in the file.
    {
        QFile file(ini);
        QVERIFY(file.open(QIODevice::Append));
        file.write("Secret=s3gredo\n");
    }
    QVERIFY_THROWS_EXCEPTION(ConfigError, HostConfig::load(ini));
}

QTEST_GUILESS_MAIN(TstHostFwCore)
#include "tst_hostfwcore.moc"
