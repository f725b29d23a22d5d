// FreshTestDatabase: one fresh database for a test, a SQLite file in a temporary folder or a new
// database on the private MariaDB that DBIF_TEST_MYSQL_HOST/PORT/USER/PASSWORD name (scripts/test
// exports them), opened through the library; dropped again when the object goes. The database
// fixture makes one per test; a test that needs a second database (of either driver) makes another.
// For one thread; owns its connection and folder.
#ifndef DBIF_TESTS_FRESHTESTDATABASE_H
#define DBIF_TESTS_FRESHTESTDATABASE_H

#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>
#include <string>

#include "dbif/DBIF_Connection.h"

class FreshTestDatabase {
public:
    // Whether the environment names a private MariaDB.
    static bool mysqlConfigured();
    // Forgets every cached run, condition, device, measurement and setup, so that the next lookup,
    // also on another connection, reads rows; a test ends with it before its databases go.
    static void emptyEntityCaches();

    // Makes and opens the database; error() says why when either failed (connection() is then null).
    explicit FreshTestDatabase(const std::string& driver);
    // Ends an open transaction, closes the connection and drops the database.
    ~FreshTestDatabase();
    FreshTestDatabase(const FreshTestDatabase&) = delete;
    FreshTestDatabase& operator=(const FreshTestDatabase&) = delete;

    QString error() const { return failure; }
    DBIF_Connection* connection() { return primary.get(); }
    bool isMySql() const { return driver == "QMYSQL"; }
    // Another record (its own Qt connection and caches) on the same database.
    DBIF_Connection openAnother() const;
    // The six connection parameters, as texts, for another process.
    QStringList arguments() const;
    // The shipped schema file of the driver.
    QString schemaFile() const;
    // Creates the shipped schema through the library's schema set-up.
    void installSchema();

private:
    std::string driver;
    std::string name;  // the database on the server, or the SQLite file's path
    std::unique_ptr<QTemporaryDir> directory;
    std::unique_ptr<DBIF_Connection> primary;
    QString failure;
};

#endif
