// FreshDatabase.h: the fresh databases the database benchmarks store into, a SQLite file in a
// temporary folder or a new database on the private MariaDB that the DBIF_TEST_MYSQL_HOST/PORT/USER/
// PASSWORD variables name (as scripts/test exports them), each with the shipped schema, and the
// cache reset between them. A benchmark uses one at a time: making one drops the one made before, so
// that the server's buffers do not fill with the data of earlier iterations and slow later ones
// down. For one thread; the temporary folder lives until the program ends.
#ifndef DBIF_BENCH_FRESHDATABASE_H
#define DBIF_BENCH_FRESHDATABASE_H

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QTemporaryDir>
#include <cstdlib>
#include <memory>

#include "dbif/DBIF_ClearAllCaches.h"
#include "dbif/DBIF_Connection.h"
#include "dbif/DBIF_Measurement.h"

inline QString environment(const char* name) {
    return QString::fromLocal8Bit(std::getenv(name));
}

inline bool haveMariaDb() {
    return std::getenv("DBIF_TEST_MYSQL_PORT") != nullptr;
}

// True, after marking the benchmark skipped, when it needs the private MariaDB and none is named.
inline bool skippedWithoutMariaDb(benchmark::State& state, const QString& driver) {
    if (driver != QLatin1String("QMYSQL") || haveMariaDb())
        return false;
    state.SkipWithError("no private MariaDB (DBIF_TEST_MYSQL_* unset)");
    return true;
}

inline QTemporaryDir& benchDirectory() {
    static QTemporaryDir made;
    return made;
}

// The MariaDB connection that creates and drops the benchmarks' databases.
inline QSqlDatabase adminDatabase() {
    if (QSqlDatabase::contains("bench-admin"))
        return QSqlDatabase::database("bench-admin");
    QSqlDatabase admin = QSqlDatabase::addDatabase("QMYSQL", "bench-admin");
    admin.setHostName(environment("DBIF_TEST_MYSQL_HOST"));
    admin.setPort(environment("DBIF_TEST_MYSQL_PORT").toInt());
    admin.setUserName(environment("DBIF_TEST_MYSQL_USER"));
    admin.setPassword(environment("DBIF_TEST_MYSQL_PASSWORD"));
    admin.open();
    return admin;
}

// Drops the database freshDatabase made last, if any; its connections must be gone.
inline void dropPreviousDatabase(const QString& driver = QString(), const QString& name = QString()) {
    static QString previousDriver;
    static QString previousName;
    if (previousDriver == "QMYSQL") {
        QSqlDatabase admin = adminDatabase();
        QSqlQuery(admin).exec(QStringLiteral("DROP DATABASE IF EXISTS %1").arg(previousName));
    } else if (previousDriver == "QSQLITE") {
        QFile::remove(previousName);
    }
    previousDriver = driver;
    previousName = name;
}

// A fresh database with the shipped schema, opened through the library. `name` receives the
// database's name on MariaDB, the file's path on SQLite.
inline std::unique_ptr<DBIF_Connection> freshDatabase(const QString& driver, QString* name = nullptr) {
    static int serial = 0;
    const QString database =
        QStringLiteral("dbif_bench_%1_%2").arg(QCoreApplication::applicationPid()).arg(++serial);
    const QString schemaDir = QStringLiteral(DBIF_SCHEMA_DIR "/");
    std::unique_ptr<DBIF_Connection> connection;
    if (driver == "QMYSQL") {
        qputenv("QUARN_MYSQL_SCHEMA_FILE", (schemaDir + "mysql.sql").toLocal8Bit());
        dropPreviousDatabase(driver, database);
        {
            QSqlDatabase admin = adminDatabase();
            QSqlQuery(admin).exec(QStringLiteral("CREATE DATABASE %1 CHARACTER SET latin1").arg(database));
        }
        connection = std::make_unique<DBIF_Connection>(
            "QMYSQL", std::getenv("DBIF_TEST_MYSQL_HOST"), database.toLatin1().constData(),
            std::getenv("DBIF_TEST_MYSQL_USER"), std::getenv("DBIF_TEST_MYSQL_PASSWORD"),
            environment("DBIF_TEST_MYSQL_PORT").toInt());
        if (name)
            *name = database;
    } else {
        qputenv("QUARN_SQLITE_SCHEMA_FILE", (schemaDir + "sqlite.sql").toLocal8Bit());
        const QString file = benchDirectory().filePath(database + ".db");
        dropPreviousDatabase(driver, file);
        connection =
            std::make_unique<DBIF_Connection>("QSQLITE", "", file.toLocal8Bit().constData(), "", "", 0);
        if (name)
            *name = file;
    }
    connection->beginTransaction();
    connection->initializeSchemaIfMissing();
    connection->endTransaction();
    return connection;
}

// Empties the entity caches, so that no cached object outlives the database it came from.
inline void forgetObjects() {
    DBIF_ObjectCache<DBIF_Setup>::emptyCache();
    DBIF_ObjectCache<DBIF_Measurement>::emptyCache();
    DBIF_ObjectCache<DBIF_Device>::emptyCache();
    DBIF_ObjectCache<DBIF_MeasurementCondition>::emptyCache();
    DBIF_ObjectCache<DBIF_CatalogEntry>::emptyCache();
    dbifClearAllCaches();
}

#endif
