// DatabaseTest: the fixture every database test uses. Each test body is written once and runs on
// SQLite (a fresh temporary file) and on MariaDB (a fresh database on the private server that
// scripts/test starts; its coordinates come from DBIF_TEST_MYSQL_HOST/PORT/USER/PASSWORD).
// Without those variables the MariaDB cases are skipped, except under CI=true, where they fail.
#ifndef DBIF_TESTS_DATABASETEST_H
#define DBIF_TESTS_DATABASETEST_H

#include <gtest/gtest.h>

#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>
#include <string>
#include <vector>

#include "dbif/DBIF_Connection.h"

class DatabaseTest : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override;
    void TearDown() override;

    // The connection the test works on, opened on the fresh database.
    DBIF_Connection& connection() { return *primary; }
    // Another record (its own Qt connection and caches) on the same database.
    DBIF_Connection openSecondConnection() const;
    // The six connection parameters of the test's database, as texts, for another process.
    QStringList connectionArguments() const;
    bool isMySql() const { return GetParam() == "QMYSQL"; }
    QString driver() const { return QString::fromStdString(GetParam()); }
    // Creates the shipped schema through the library's schema set-up.
    void installSchema();
    // The shipped schema file of this driver.
    QString schemaFile() const;
    // Runs one statement on the test's database outside the library (set-up, checks).
    void exec(const QString& sql);
    int countRows(const QString& table, const QString& where = QString());
    // Column 0 of the first row of a statement run through the library on the test's connection.
    int intOf(const QString& sql) {
        return connection().queryInt(sql, DBIF_QUERY_TIMING, __FILE__, __LINE__);
    }
    QString textOf(const QString& sql) {
        return connection().queryString(sql, DBIF_QUERY_TIMING, __FILE__, __LINE__);
    }
    // Makes this connection's rows visible to others (MySQL runs with autocommit off).
    void commit();

    // The statements a connection sends while action runs, in order (the first line of each), as its
    // trace prints them.
    template <typename Action>
    static QStringList statementsOf(DBIF_Connection& db, Action action) {
        db.setShowSql(true);
        testing::internal::CaptureStdout();
        action();
        const std::string trace = testing::internal::GetCapturedStdout();
        db.setShowSql(false);
        return tracedStatements(QString::fromStdString(trace));
    }
    template <typename Action>
    QStringList statementsOf(Action action) {
        return statementsOf(connection(), action);
    }

private:
    static QStringList tracedStatements(const QString& trace);

    std::string databaseName;
    std::unique_ptr<QTemporaryDir> directory;
    std::unique_ptr<DBIF_Connection> primary;
};

// A database test on a fresh database that holds the shipped schema.
class SchemaDatabaseTest : public DatabaseTest {
protected:
    void SetUp() override;
};

// The drivers every database test runs on, and a readable name for each instance.
std::vector<std::string> testDrivers();
std::string driverTestName(const ::testing::TestParamInfo<std::string>& info);

#define DBIF_DATABASE_TEST_SUITE(Suite) \
    INSTANTIATE_TEST_SUITE_P(Drivers, Suite, ::testing::ValuesIn(testDrivers()), driverTestName)

#endif
