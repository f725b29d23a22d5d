// DatabaseTest.cpp: fresh databases per test on both drivers.
#include "DatabaseTest.h"

#include <QCoreApplication>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <cstdlib>

#include "dbif/DBIF_ClearAllCaches.h"
#include "dbif/DBIF_Measurement.h"

namespace {

QString environment(const char* name) {
    return QString::fromLocal8Bit(std::getenv(name));
}

bool mysqlConfigured() {
    return std::getenv("DBIF_TEST_MYSQL_PORT") != nullptr;
}

// Runs administrative statements (CREATE/DROP DATABASE) on the server outside any test database.
bool adminExec(const QString& sql, QString* error) {
    const QString name = QStringLiteral("dbif-test-admin");
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::contains(name)
                              ? QSqlDatabase::database(name, false)
                              : QSqlDatabase::addDatabase(QStringLiteral("QMYSQL"), name);
        db.setHostName(environment("DBIF_TEST_MYSQL_HOST"));
        db.setPort(environment("DBIF_TEST_MYSQL_PORT").toInt());
        db.setUserName(environment("DBIF_TEST_MYSQL_USER"));
        db.setPassword(environment("DBIF_TEST_MYSQL_PASSWORD"));
        if (!db.isOpen() && !db.open()) {
            *error = db.lastError().text();
            return false;
        }
        QSqlQuery query(db);
        ok = query.exec(sql);
        if (!ok)
            *error = query.lastError().text();
    }
    return ok;
}

int databaseCounter = 0;

}  // namespace

std::vector<std::string> testDrivers() {
    return {"QSQLITE", "QMYSQL"};
}

std::string driverTestName(const ::testing::TestParamInfo<std::string>& info) {
    return info.param;
}

void DatabaseTest::SetUp() {
    if (isMySql()) {
        if (!mysqlConfigured()) {
            if (std::getenv("CI") != nullptr)
                FAIL() << "CI run without the private MariaDB server";
            GTEST_SKIP() << "no MariaDB server configured (run scripts/test)";
        }
        databaseName = "dbif_test_" + std::to_string(QCoreApplication::applicationPid()) + "_" +
                       std::to_string(databaseCounter++);
        QString error;
        ASSERT_TRUE(adminExec(QStringLiteral("CREATE DATABASE %1 CHARACTER SET latin1")
                                  .arg(QString::fromStdString(databaseName)),
                              &error))
            << error.toStdString();
        primary = std::make_unique<DBIF_Connection>("QMYSQL", std::getenv("DBIF_TEST_MYSQL_HOST"),
                                                    databaseName.c_str(), std::getenv("DBIF_TEST_MYSQL_USER"),
                                                    std::getenv("DBIF_TEST_MYSQL_PASSWORD"),
                                                    environment("DBIF_TEST_MYSQL_PORT").toInt());
    } else {
        directory = std::make_unique<QTemporaryDir>();
        ASSERT_TRUE(directory->isValid());
        databaseName = directory->filePath(QStringLiteral("test.db")).toStdString();
        primary = std::make_unique<DBIF_Connection>("QSQLITE", "", databaseName.c_str(), "", "", 0);
    }
    ASSERT_TRUE(primary->isValid()) << primary->lastError().text().toStdString();
    fill();
}

void DatabaseTest::TearDown() {
    // Cached objects of this test's connection must not outlive its database.
    emptyEntityCaches();
    dbifClearAllCaches();
    if (primary) {
        primary->endTransaction();
        primary.reset();
    }
    if (isMySql() && !databaseName.empty()) {
        QString error;
        adminExec(QStringLiteral("DROP DATABASE IF EXISTS %1").arg(QString::fromStdString(databaseName)),
                  &error);
    }
    directory.reset();
}

void DatabaseTest::emptyEntityCaches() {
    DBIF_ObjectCache<DBIF_Setup>::emptyCache();
    DBIF_ObjectCache<DBIF_Measurement>::emptyCache();
    DBIF_ObjectCache<DBIF_Device>::emptyCache();
    DBIF_ObjectCache<DBIF_MeasurementCondition>::emptyCache();
    DBIF_ObjectCache<DBIF_CatalogEntry>::emptyCache();
}

DBIF_Connection DatabaseTest::openSecondConnection() const {
    if (isMySql()) {
        return DBIF_Connection("QMYSQL", std::getenv("DBIF_TEST_MYSQL_HOST"), databaseName.c_str(),
                               std::getenv("DBIF_TEST_MYSQL_USER"), std::getenv("DBIF_TEST_MYSQL_PASSWORD"),
                               environment("DBIF_TEST_MYSQL_PORT").toInt());
    }
    return DBIF_Connection("QSQLITE", "", databaseName.c_str(), "", "", 0);
}

QStringList DatabaseTest::connectionArguments() const {
    if (isMySql()) {
        return {driver(),
                environment("DBIF_TEST_MYSQL_HOST"),
                QString::fromStdString(databaseName),
                environment("DBIF_TEST_MYSQL_USER"),
                environment("DBIF_TEST_MYSQL_PASSWORD"),
                environment("DBIF_TEST_MYSQL_PORT")};
    }
    return {driver(), QString(), QString::fromStdString(databaseName), QString(), QString(), "0"};
}

QString DatabaseTest::schemaFile() const {
    return QStringLiteral(DBIF_SCHEMA_DIR) +
           (isMySql() ? QStringLiteral("/mysql.sql") : QStringLiteral("/sqlite.sql"));
}

void DatabaseTest::installSchema() {
    const QByteArray variable = isMySql() ? "QUARN_MYSQL_SCHEMA_FILE" : "QUARN_SQLITE_SCHEMA_FILE";
    qputenv(variable.constData(), schemaFile().toLocal8Bit());
    // One transaction keeps SQLite from syncing the file after every table.
    connection().beginTransaction();
    connection().initializeSchemaIfMissing();
    connection().endTransaction();
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
