#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QTemporaryDir>
#include <QVariant>

namespace fis::test {

// A seeded demo database in a temporary directory, with an output directory beside it, and a
// QtSql connection (independent of the server's own code) to check answers against.
class TestDatabase
{
public:
    explicit TestDatabase(int invoices = 3000, quint64 seed = 20250520);
    ~TestDatabase();
    TestDatabase(const TestDatabase &) = delete;
    TestDatabase &operator=(const TestDatabase &) = delete;

    bool isValid() const { return m_ok; }
    QString path() const { return m_dir.filePath(QStringLiteral("host.sqlite")); }
    QString outputDir() const { return m_dir.filePath(QStringLiteral("out")); }
    QString dirPath() const { return m_dir.path(); }

    // Rows of a query with positional parameters; stops the test program on an SQL error.
    QList<QVariantList> rows(const QString &sql, const QVariantList &params = {}) const;
    QVariant value(const QString &sql, const QVariantList &params = {}) const;
    void exec(const QString &sql, const QVariantList &params = {}) const;
    // Every row of every table, in key order, hashed: equal dumps mean an unchanged database.
    QByteArray checksum() const;

private:
    QTemporaryDir m_dir;
    QString m_connection;
    bool m_ok = false;
};

} // namespace fis::test
