// DatabaseTest.cpp: fresh databases per test on both drivers.
#include "DatabaseTest.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <cstdlib>

#include "dbif/DBIF_ClearAllCaches.h"
#include "dbif/DBIF_Measurement.h"

std::vector<std::string> testDrivers() {
    return {"QSQLITE", "QMYSQL"};
}

std::string driverTestName(const ::testing::TestParamInfo<std::string>& info) {
    return info.param;
}

void DatabaseTest::SetUp() {
    if (isMySql() && !FreshTestDatabase::mysqlConfigured()) {
        if (std::getenv("CI") != nullptr)
            FAIL() << "CI run without the private MariaDB server";
        GTEST_SKIP() << "no MariaDB server configured (run scripts/test)";
    }
    database = std::make_unique<FreshTestDatabase>(GetParam());
    ASSERT_TRUE(database->connection() != nullptr) << database->error().toStdString();
    fill();
}

void DatabaseTest::TearDown() {
    // Cached objects of this test's connection must not outlive its database.
    emptyEntityCaches();
    dbifClearAllCaches();
    database.reset();
}

void DatabaseTest::emptyEntityCaches() {
    FreshTestDatabase::emptyEntityCaches();
}

DBIF_Connection DatabaseTest::openSecondConnection() const {
    return database->openAnother();
}

QStringList DatabaseTest::connectionArguments() const {
    return database->arguments();
}

QString DatabaseTest::schemaFile() const {
    return database->schemaFile();
}

void DatabaseTest::installSchema() {
    database->installSchema();
}

void DatabaseTest::exec(const QString& sql) {
    connection().query(sql, DBIF_QUERY_TIMING, __FILE__, __LINE__);
}

int DatabaseTest::countRows(const QString& table, const QString& where) {
    const QString condition = where.isEmpty() ? QString() : QStringLiteral(" WHERE ") + where;
    return connection().queryInt(QStringLiteral("SELECT COUNT(*) FROM %1%2").arg(table, condition),
                                 DBIF_QUERY_TIMING, __FILE__, __LINE__);
}

QStringList DatabaseTest::rowOf(const QString& sql) {
    QSqlQuery result = connection().query(sql, DBIF_QUERY_TIMING, __FILE__, __LINE__);
    QStringList values;
    if (result.next()) {
        for (int i = 0; i < result.record().count(); ++i)
            values << result.value(i).toString();
    }
    return values;
}

QStringList DatabaseTest::tracedStatements(const QString& trace) {
    // Each statement follows a line "<connection name>: (<n> ms) ".
    const QStringList lines = trace.split(QLatin1Char('\n'));
    QStringList statements;
    for (int i = 0; i + 1 < lines.size(); ++i) {
        if (lines[i].endsWith(QStringLiteral(" ms) ")))
            statements << lines[i + 1];
    }
    return statements;
}
