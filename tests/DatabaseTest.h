// DatabaseTest: the fixture every database test uses. Each test body is written once and runs on
// SQLite (a fresh temporary file) and on MariaDB (a fresh database on the private server that
// scripts/test starts; its coordinates come from DBIF_TEST_MYSQL_HOST/PORT/USER/PASSWORD).
// Without those variables the MariaDB cases are skipped, except under CI=true, where they fail.
#ifndef DBIF_TESTS_DATABASETEST_H
#define DBIF_TESTS_DATABASETEST_H

#include <gtest/gtest.h>

#include <QString>
#include <QStringList>
#include <memory>
#include <string>
#include <vector>

#include "CapturedStderr.h"
#include "FreshTestDatabase.h"
#include "dbif/DBIF_Connection.h"

class DatabaseTest : public ::testing::TestWithParam<std::string> {
protected:
    // Opens the fresh database and, unless the driver's case is skipped or failed, fills it.
    void SetUp() override;
    void TearDown() override;
    // What a fixture puts into the fresh database before each of its tests.
    virtual void fill() {}

    // Forgets every cached run, condition, device, measurement and setup, so that the next lookup,
    // also on another connection, reads rows; every test ends with it.
    static void emptyEntityCaches();
    // The connection the test works on, opened on the fresh database.
    DBIF_Connection& connection() { return *database->connection(); }
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
    // Column 0 of every row, and the first row as texts, of a statement run on the test's connection.
    QList<int> ids(const QString& sql) {
        return connection().queryScalarList<int>(sql, DBIF_QUERY_TIMING, __FILE__, __LINE__);
    }
    QStringList rowOf(const QString& sql);
    // Makes a connection's rows visible to others (MySQL runs with autocommit off).
    void commit() { commit(connection()); }
    static void commit(DBIF_Connection& db) {
        db.beginTransaction();
        db.endTransaction();
    }

    // Everything a connection's trace prints while action runs.
    template <typename Action>
    static std::string traceOf(DBIF_Connection& db, Action action) {
        db.setShowSql(true);
        testing::internal::CaptureStdout();
        action();
        db.setShowSql(false);
        return testing::internal::GetCapturedStdout();
    }
    template <typename Action>
    std::string traceOf(Action action) {
        return traceOf(connection(), action);
    }
    // The statements a connection sends while action runs, in order (the first line of each).
    template <typename Action>
    static QStringList statementsOf(DBIF_Connection& db, Action action) {
        return tracedStatements(QString::fromStdString(traceOf(db, action)));
    }
    template <typename Action>
    QStringList statementsOf(Action action) {
        return statementsOf(connection(), action);
    }

private:
    static QStringList tracedStatements(const QString& trace);

    std::unique_ptr<FreshTestDatabase> database;
};

// The statement of the DBIF_Exception that the action threw, or "nothing thrown".
template <typename Action>
QString failedStatement(Action&& action) {
    return caught<DBIF_Exception>(action, [](const DBIF_Exception& e) { return e.getQuery(); });
}

// A database test on a fresh database that holds the shipped schema.
class SchemaDatabaseTest : public DatabaseTest {
protected:
    void fill() override { installSchema(); }
};

// The drivers every database test runs on, and a readable name for each instance.
std::vector<std::string> testDrivers();
std::string driverTestName(const ::testing::TestParamInfo<std::string>& info);

#define DBIF_DATABASE_TEST_SUITE(Suite) \
    INSTANTIATE_TEST_SUITE_P(Drivers, Suite, ::testing::ValuesIn(testDrivers()), driverTestName)

#endif
