// FreshTestDatabase.cpp: creating and dropping a test's database on either driver.
#include "FreshTestDatabase.h"

#include <QCoreApplication>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <cstdlib>

#include "dbif/DBIF_Measurement.h"

namespace {

QString environment(const char* name) {
    return QString::fromLocal8Bit(std::getenv(name));
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

bool FreshTestDatabase::mysqlConfigured() {
    return std::getenv("DBIF_TEST_MYSQL_PORT") != nullptr;
}

void FreshTestDatabase::emptyEntityCaches() {
    DBIF_ObjectCache<DBIF_Setup>::emptyCache();
    DBIF_ObjectCache<DBIF_Measurement>::emptyCache();
    DBIF_ObjectCache<DBIF_Device>::emptyCache();
    DBIF_ObjectCache<DBIF_MeasurementCondition>::emptyCache();
    DBIF_ObjectCache<DBIF_CatalogEntry>::emptyCache();
}

FreshTestDatabase::FreshTestDatabase(const std::string& driver) : driver(driver) {
    if (isMySql()) {
        name = "dbif_test_" + std::to_string(QCoreApplication::applicationPid()) + "_" +
               std::to_string(databaseCounter++);
        if (!adminExec(
                QStringLiteral("CREATE DATABASE %1 CHARACTER SET latin1").arg(QString::fromStdString(name)),
                &failure)) {
            name.clear();
            return;
        }
        primary = std::make_unique<DBIF_Connection>(
            "QMYSQL", std::getenv("DBIF_TEST_MYSQL_HOST"), name.c_str(), std::getenv("DBIF_TEST_MYSQL_USER"),
            std::getenv("DBIF_TEST_MYSQL_PASSWORD"), environment("DBIF_TEST_MYSQL_PORT").toInt());
    } else {
        directory = std::make_unique<QTemporaryDir>();
        if (!directory->isValid()) {
            failure = QStringLiteral("no temporary folder");
            return;
        }
        name = directory->filePath(QStringLiteral("test.db")).toStdString();
        primary = std::make_unique<DBIF_Connection>("QSQLITE", "", name.c_str(), "", "", 0);
    }
    if (!primary->isValid()) {
        failure = primary->lastError().text();
        primary.reset();
    }
}

FreshTestDatabase::~FreshTestDatabase() {
    if (primary) {
        primary->endTransaction();
        primary.reset();
    }
    if (isMySql() && !name.empty()) {
        QString error;
        adminExec(QStringLiteral("DROP DATABASE IF EXISTS %1").arg(QString::fromStdString(name)), &error);
    }
    directory.reset();
}

DBIF_Connection FreshTestDatabase::openAnother() const {
    if (isMySql()) {
        return DBIF_Connection("QMYSQL", std::getenv("DBIF_TEST_MYSQL_HOST"), name.c_str(),
                               std::getenv("DBIF_TEST_MYSQL_USER"), std::getenv("DBIF_TEST_MYSQL_PASSWORD"),
                               environment("DBIF_TEST_MYSQL_PORT").toInt());
    }
    return DBIF_Connection("QSQLITE", "", name.c_str(), "", "", 0);
}

QStringList FreshTestDatabase::arguments() const {
    if (isMySql()) {
        return {QString::fromStdString(driver),
                environment("DBIF_TEST_MYSQL_HOST"),
                QString::fromStdString(name),
                environment("DBIF_TEST_MYSQL_USER"),
                environment("DBIF_TEST_MYSQL_PASSWORD"),
                environment("DBIF_TEST_MYSQL_PORT")};
    }
    return {
        QString::fromStdString(driver), QString(), QString::fromStdString(name), QString(), QString(), "0"};
}

QString FreshTestDatabase::schemaFile() const {
    return QStringLiteral(DBIF_SCHEMA_DIR) +
           (isMySql() ? QStringLiteral("/mysql.sql") : QStringLiteral("/sqlite.sql"));
}

void FreshTestDatabase::installSchema() {
    const QByteArray variable = isMySql() ? "QUARN_MYSQL_SCHEMA_FILE" : "QUARN_SQLITE_SCHEMA_FILE";
    qputenv(variable.constData(), schemaFile().toLocal8Bit());
    // One transaction keeps SQLite from syncing the file after every table.
    primary->beginTransaction();
    primary->initializeSchemaIfMissing();
    primary->endTransaction();
}
