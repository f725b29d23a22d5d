// What a long-running host meets, on both drivers: text that is not Unicode (or that a latin1 MySQL
// column cannot hold) never reaches a statement; temperatures come back bit for bit or are refused;
// a save outside a transaction commits; the library's transaction state follows the database's
// after a rollback it did not make, including SQLite's own after a full disk.
#include <gtest/gtest.h>

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QTemporaryDir>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>

#include "CampaignTest.h"
#include "CapturedStderr.h"
#include "TcpRelay.h"
#include "dbif/DBIF_ClearAllCaches.h"
#include "dbif/DBIF_SingleColumnCondition.h"

namespace {

using ReliabilityTest = CampaignTest;

// The report of the DBIF_Exception the action threw, or "nothing thrown".
template <typename Action>
std::string failureOf(Action&& action) {
    return caught<DBIF_Exception>(action,
                                  [](const DBIF_Exception& e) { return QString::fromLocal8Bit(e.what()); })
        .toStdString();
}

TEST_P(ReliabilityTest, TextThatCannotBeStoredNeverReachesAStatement) {
    const QString lone = QStringLiteral("x") + QChar(0xD800);
    const QString c1 = QStringLiteral("xy") + QChar(0x85);  // of another length than lone: another device
    struct Case {
        const char* what;
        std::function<void(const QString&)> use;
    };
    DBIF_CatalogEntry entry = run(0, DBIF_MULTI_TABLE_STORAGE);
    const Case cases[] = {
        {"die field", [&](const QString& t) { die(t).save(); }},
        {"device name", [&](const QString& t) { device(entry, DBIF_MULTI_TABLE_STORAGE, t).save(); }},
        {"text cell",
         [&](const QString& t) {
             DBIF_Device d = device(entry, DBIF_MULTI_TABLE_STORAGE, "cell" + QString::number(t.size()));
             const DBIF_DeviceColumn note = d.addColumn("Note", "TX", "n");
             d.addRow();
             d.set(note, t);
             d.save();
         }},
        {"query value",
         [&](const QString& t) {
             DBIF_Die::query(connection(), DBIF_SingleColumnCondition("die", "lot", Equal, t), false);
         }},
    };
    for (const Case& c : cases) {
        for (const QString& text : {lone, c1}) {
            SCOPED_TRACE(testing::Message()
                         << c.what << (text == lone ? ", lone surrogate" : ", C1 control"));
            const int before = countRows("die") + countRows("device");
            const std::string failure = failureOf([&] { c.use(text); });
            const bool refused = text == lone || isMySql();
            EXPECT_EQ(failure.find(text == lone ? "lone UTF-16 surrogate" : "U+0080 to U+009F") !=
                          std::string::npos,
                      refused)
                << failure;
            if (refused) {
                EXPECT_EQ(countRows("die") + countRows("device"), before);
            }
        }
        emptyEntityCaches();
        entry = run(0, DBIF_MULTI_TABLE_STORAGE);
    }
}

// A Qt connection that is closed when a statement comes (the server was down when the connection was
// made) is opened with the session set-up, not silently without it.
TEST_P(ReliabilityTest, AConnectionOpenedLateRunsTheSessionSetUp) {
    QSqlDatabase::database(connection().getQtDatabaseKey(), false).close();
    DBIF_Die d = die("ends in \\");
    d.save();
    EXPECT_EQ(textOf(QStringLiteral("SELECT die FROM die WHERE id = %1").arg(d.getId())), "ends in \\");
    if (isMySql()) {
        EXPECT_EQ(intOf("SELECT @@autocommit"), 0);
        EXPECT_TRUE(textOf("SELECT @@SESSION.sql_mode").contains("NO_BACKSLASH_ESCAPES"));
    } else {
        EXPECT_EQ(intOf("PRAGMA busy_timeout"), 5000);
    }
}

// Column names that MySQL takes for one ("é" and "É") are refused with the reason before anything is
// written; SQLite tells them apart and stores both.
TEST_P(ReliabilityTest, ColumnNamesTheDatabaseTakesForOneAreRefusedWithTheReason) {
    const QString small = QString::fromUtf8("\u00e9");
    const QString capital = QString::fromUtf8("\u00c9");
    const std::string reason = "only in case or accents";
    DBIF_CatalogEntry entry = run(0, DBIF_MULTI_TABLE_STORAGE);
    // One entity: its table would hold both.
    DBIF_Device both = device(entry, DBIF_MULTI_TABLE_STORAGE, "both");
    for (const QString& name : {small, capital})
        both.addColumn(name, "DB", "c");
    both.addRow();
    const std::string failure = failureOf([&] { both.save(); });
    EXPECT_EQ(failure.find(reason) != std::string::npos, isMySql()) << failure;
    EXPECT_EQ(countRows("device"), isMySql() ? 0 : 1);
    // Two entities stored sparse: the kind's one table would hold both.
    device(entry, DBIF_SPARSE_TABLE_STORAGE, "first").addColumn(small, "DB", "c");
    DBIF_Device second = device(entry, DBIF_SPARSE_TABLE_STORAGE, "second");
    const std::string sparse = failureOf([&] { second.addColumn(capital, "DB", "c"); });
    EXPECT_EQ(sparse.find(reason) != std::string::npos, isMySql()) << sparse;
}

// A column first made by one engine is stored by the other as well, and found in both layouts.
TEST_P(ReliabilityTest, AColumnOfOneLayoutJoinsTheOther) {
    DBIF_CatalogEntry entry = run(0, DBIF_MULTI_TABLE_STORAGE);
    QList<int> ids;
    for (const DBIF_StorageEngineType type : {DBIF_MULTI_TABLE_STORAGE, DBIF_SPARSE_TABLE_STORAGE}) {
        DBIF_Device d = device(entry, type, QStringLiteral("W%1").arg(type));
        const DBIF_DeviceColumn w = d.addColumn("W", "DB", "physical");
        d.addRow();
        d.set(w, QVariant(double(type)));
        EXPECT_EQ(failureOf([&] { d.save(); }), "nothing thrown");
        ids << d.getId();
    }
    commit();
    DBIF_Connection other = openSecondConnection();
    const DBIF_DeviceColumn w =
        DBIF_DeviceColumn::get(other, DBIF_DeviceColumn::computeKey("W", "DB", "physical"));
    for (int i = 0; i < ids.size(); ++i)
        EXPECT_EQ(DBIF_Device::get(other, ids[i]).getData(w, 0).toDouble(), i == 0 ? 2.0 : 1.0);
    EXPECT_EQ(DBIF_Device::query(other, w.notNull(), false).size(), 2);
}

// A connection whose registry was read a moment ago loads another connection's new column set with
// its rows, not as an empty table.
TEST_P(ReliabilityTest, ALoadOfAnotherConnectionsNewColumnSetFindsItsRows) {
    const auto campaignMeasurement = [&](int second, const QString& origin) {
        DBIF_CatalogEntry entry = run(second, DBIF_MULTI_TABLE_STORAGE);
        DBIF_Measurement m =
            measurement(die("D1"), entry, device(entry, DBIF_MULTI_TABLE_STORAGE),
                        condition(entry, DBIF_MULTI_TABLE_STORAGE), 25, DBIF_MULTI_TABLE_STORAGE, origin, 3);
        m.save();
        commit(on());
        return m.getId();
    };
    campaignMeasurement(0, QString());  // this connection's registry knows {Id}
    DBIF_Connection other = openSecondConnection();
    building = &other;
    const int id = campaignMeasurement(1, "MEASURED");  // {Id, DataOrigin}, new
    building = nullptr;
    emptyEntityCaches();
    const DBIF_Measurement back = DBIF_Measurement::get(connection(), id);
    EXPECT_EQ(back.rowCount(), 3u);
    EXPECT_EQ(
        back.getData(DBIF_MeasurementColumn::get(connection(), DBIF_Measurement::DATA_ORIGIN, "TX", 2), 2)
            .toString(),
        "MEASURED");
}

TEST_P(ReliabilityTest, TemperaturesComeBackBitForBitOrAreRefused) {
    DBIF_CatalogEntry entry = run(0, DBIF_SPARSE_TABLE_STORAGE);
    const DBIF_Device d = device(entry, DBIF_SPARSE_TABLE_STORAGE);
    const DBIF_MeasurementCondition vg = condition(entry, DBIF_SPARSE_TABLE_STORAGE);
    const double temperatures[] = {25.123456789, 1234567, 5e-324, DBL_MIN, -273.15, DBL_MAX};
    QList<int> ids;
    for (const double t : temperatures) {
        DBIF_Measurement m = measurement(die("D1"), entry, d, vg, t, DBIF_SPARSE_TABLE_STORAGE);
        m.save();
        m.set(DBIF_MeasurementColumn::get(connection(), "ID_2_DB"), QVariant(7.0));
        m.save();  // the master row's UPDATE writes the temperature again
        ids << m.getId();
    }
    commit();
    DBIF_Connection other = openSecondConnection();
    for (int i = 0; i < ids.size(); ++i) {
        const double back = DBIF_Measurement::get(other, ids[i]).getTemperature();
        EXPECT_EQ(std::memcmp(&back, &temperatures[i], sizeof back), 0)
            << temperatures[i] << " read " << back;
    }
    for (const double t : {std::nan(""), std::numeric_limits<double>::infinity()}) {
        const int before = countRows("measurement");
        DBIF_Measurement m = measurement(die("D1"), entry, d, vg, t, DBIF_SPARSE_TABLE_STORAGE);
        EXPECT_NE(failureOf([&] { m.save(); }).find("a database column cannot store it"), std::string::npos);
        EXPECT_EQ(countRows("measurement"), before);
        EXPECT_EQ(m.getId(), -1);
    }
}

TEST_P(ReliabilityTest, TheTransactionStateFollowsTheDatabase) {
    DBIF_Connection other = openSecondConnection();
    const auto seen = [&](const QString& lot) {
        return other.queryInt(QStringLiteral("SELECT COUNT(*) FROM die WHERE lot = '%1'").arg(lot),
                              DBIF_QUERY_TIMING, __FILE__, __LINE__);
    };
    // A save outside a transaction is a transaction of its own and commits, on MySQL as well.
    DBIF_Die::get(connection(), "alone", "W", "D", "B", "me").save();
    EXPECT_EQ(seen("alone"), 1);

    // The host rolls back its own transaction.
    connection().beginTransaction();
    DBIF_Die undone = DBIF_Die::get(connection(), "undone", "W", "D", "B", "me");
    undone.save();
    connection().rollbackTransaction();
    EXPECT_FALSE(connection().isInTransaction());
    EXPECT_EQ(countRows("die", "lot = 'undone'"), 0);

    // A rollback the library did not send: SQLite's transaction is over, and the commit says so.
    if (!isMySql()) {
        connection().beginTransaction();
        DBIF_Die::get(connection(), "lost", "W", "D", "B", "me").save();
        connection().query("ROLLBACK", DBIF_UPDATE_TIMING, __FILE__, __LINE__);
        EXPECT_NE(failureOf([&] { connection().endTransaction(); }).find("rolled back before this commit"),
                  std::string::npos);
        EXPECT_FALSE(connection().isInTransaction());
    }
    // Either way the next transaction works.
    connection().beginTransaction();
    DBIF_Die::get(connection(), "later", "W", "D", "B", "me").save();
    connection().endTransaction();
    EXPECT_EQ(seen("later"), 1);
    EXPECT_EQ(seen("lost") + seen("undone"), 0);
}

// SQLite on a filesystem that fills up inside a host transaction: whatever SQLite keeps or rolls back,
// the library tells the same as the database holds. Needs a tmpfs of its own (root, mount allowed).
TEST_P(ReliabilityTest, AFullDiskIsReportedAsTheDatabaseLeftIt) {
    if (isMySql())
        GTEST_SKIP() << "a full disk is SQLite's file";
    QTemporaryDir mountPoint;
    ASSERT_TRUE(mountPoint.isValid());
    if (QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=512k", "tmpfs", mountPoint.path()}) != 0)
        GTEST_SKIP() << "cannot mount a small tmpfs here";
    struct Unmount {
        QString path;
        ~Unmount() { QProcess::execute("umount", {path}); }
    } unmount{mountPoint.path()};
    {
        DBIF_Connection small("QSQLITE", "", QDir(mountPoint.path()).filePath("full.db").toUtf8().constData(),
                              "", "", 0);
        qputenv("QUARN_SQLITE_SCHEMA_FILE", schemaFile().toUtf8());
        small.initializeSchemaIfMissing();
        building = &small;
        small.beginTransaction();
        DBIF_CatalogEntry entry = run(0, DBIF_SPARSE_TABLE_STORAGE);
        const DBIF_Device d = device(entry, DBIF_SPARSE_TABLE_STORAGE);
        const DBIF_MeasurementCondition vg = condition(entry, DBIF_SPARSE_TABLE_STORAGE);
        std::string failure;
        int saved = 0;
        for (; saved < 400 && failure.empty(); ++saved) {
            DBIF_Measurement m =
                measurement(die("D1"), entry, d, vg, saved, DBIF_SPARSE_TABLE_STORAGE, QString(), 200, saved);
            failure = failureOf([&] { m.save(); });
            if (failure == "nothing thrown")
                failure.clear();
        }
        if (failure.empty())
            failure = failureOf([&] { small.endTransaction(); });
        ASSERT_NE(failure, "nothing thrown") << "the disk never filled";
        const bool wholeTransactionGone =
            failure.find("rolled back the whole transaction") != std::string::npos;
        EXPECT_EQ(small.isInTransaction(), !wholeTransactionGone) << failure;
        if (small.isInTransaction())
            failureOf([&] { small.endTransaction(); });
        // What the library said is what the file holds: the first measurement is there or it is not.
        EXPECT_EQ(
            small.queryInt("SELECT COUNT(*) FROM measurement", DBIF_QUERY_TIMING, __FILE__, __LINE__) == 0,
            wholeTransactionGone)
            << failure;
        building = nullptr;
        emptyEntityCaches();
        dbifClearAllCaches();  // the cached dies hold the connection, and so the file
    }
}

// A save that a value refuses leaves nothing, on MySQL too, where making a table commits: the values
// of everything the save writes are checked, and the tables it needs (here a new column set of its
// device and of a setup it owns) made, before its first row.
TEST_P(ReliabilityTest, ARefusedSaveLeavesNothingAndMakesItsTablesBeforeItsRows) {
    DBIF_CatalogEntry entry = run(0, DBIF_MULTI_TABLE_STORAGE);
    DBIF_Device d = device(entry, DBIF_MULTI_TABLE_STORAGE, "fresh");
    const DBIF_DeviceColumn width = d.addColumn("W", "DB", "geometry");
    d.addRow();
    d.set(width, 1.0);
    DBIF_Measurement m = measurement(die("Dnew"), entry, d, condition(entry, DBIF_MULTI_TABLE_STORAGE), 25,
                                     DBIF_MULTI_TABLE_STORAGE);
    DBIF_Setup setup = DBIF_Setup::get(on(), "bias", "/sweep", "IdVd", "", &m, DBIF_MULTI_TABLE_STORAGE);
    const DBIF_SetupColumn step = setup.addColumn("Step", "DB", true, "step");
    setup.addRow();
    setup.set(step, std::nan(""));
    m.addSetup(setup);
    const auto rows = [&] { return countRows("die") + countRows("device") + countRows("measurement"); };
    const int before = rows();
    EXPECT_NE(failureOf([&] { m.save(); }).find("holds NaN"), std::string::npos);
    EXPECT_EQ(rows(), before);

    setup.set(step, 0.5);
    const QStringList statements = statementsOf(connection(), [&] { m.save(); });
    const int firstRow = statements.indexOf(QRegularExpression("^INSERT INTO die\\b.*"));
    ASSERT_GE(firstRow, 0) << statements.join('\n').toStdString();
    for (const QString& statement : statements.mid(firstRow))
        EXPECT_FALSE(statement.startsWith("CREATE") || statement.startsWith("ALTER"))
            << statement.toStdString();
    EXPECT_EQ(rows(), before + 3);
}

// Connections the host lets go are closed although the caches hold their entities: the caches hold
// the connection weakly. An entity the host kept keeps what it loaded and refuses what needs the
// database; the connection stays usable for as long as the host holds it, entity or not.
TEST_P(ReliabilityTest, AConnectionTheHostLetsGoIsClosed) {
    DBIF_CatalogEntry entry = run(0, DBIF_MULTI_TABLE_STORAGE);
    DBIF_Measurement stored = measurement(die("D1"), entry, device(entry, DBIF_MULTI_TABLE_STORAGE),
                                          condition(entry, DBIF_MULTI_TABLE_STORAGE), 25,
                                          DBIF_MULTI_TABLE_STORAGE, QString(), 3, 7);
    stored.save();
    commit();
    const auto openFiles = [] {
        return QDir("/proc/self/fd").entryList(QDir::AllEntries | QDir::System).size();
    };
    const int filesBefore = openFiles();
    const int connectionsBefore = DBIF_Connection::ManagedConnection::openConnections.size();
    DBIF_Measurement kept;
    for (int i = 0; i < 20; ++i) {
        DBIF_Connection other = openSecondConnection();
        DBIF_Measurement m = DBIF_Measurement::get(other, stored.getId());
        ASSERT_TRUE(m.ensureDataLoaded());
        if (i == 0)
            kept = m;
    }
    EXPECT_EQ(DBIF_Connection::ManagedConnection::openConnections.size(), connectionsBefore);
    EXPECT_EQ(openFiles(), filesBefore);
    EXPECT_EQ(kept.getData(kept.getColumnKeys().first(), 2).toDouble(), 9.0);
    kept.addRow();
    EXPECT_NE(failureOf([&] { kept.save(); }).find("closed when the host let go"), std::string::npos);
    EXPECT_NE(failureOf([&] { kept.getConnection().beginTransaction(); }).find("closed when the host let go"),
              std::string::npos);

    DBIF_Connection held = openSecondConnection();
    const int id = DBIF_Measurement::get(held, stored.getId()).getId();
    EXPECT_EQ(DBIF_Measurement::get(held, id).getTemperature(), 25);
}

// A server that stops answering (stopped, or behind a partition) ends the statement after the network
// timeout; once it answers again the connection reconnects with its session set-up, and the
// transaction the server dropped with the session is reported gone. A connection made while it is
// frozen gives up after the same timeout.
TEST_P(ReliabilityTest, AFrozenServerEndsTheStatementAfterTheNetworkTimeout) {
    if (!isMySql())
        GTEST_SKIP() << "SQLite has no server";
    const QStringList a = connectionArguments();
    TcpRelay relay(a[5].toInt(), std::chrono::seconds(30));
    ASSERT_NE(relay.getPort(), 0);
    const auto connectThroughRelay = [&] {
        const int previous = DBIF_Connection::networkTimeout();
        DBIF_Connection::setNetworkTimeout(1);
        DBIF_Connection made("QMYSQL", "127.0.0.1", a[2].toUtf8().constData(), a[3].toUtf8().constData(),
                             a[4].toUtf8().constData(), relay.getPort());
        DBIF_Connection::setNetworkTimeout(previous);
        return made;
    };
    DBIF_Connection viaRelay = connectThroughRelay();
    ASSERT_TRUE(viaRelay.isValid()) << viaRelay.lastError().text().toStdString();
    viaRelay.beginTransaction();
    DBIF_Die::get(viaRelay, "frozen", "W", "D", "B", "me").save();
    relay.freeze();
    const std::string failure = failureOf(
        [&] { viaRelay.queryInt("SELECT COUNT(*) FROM die", DBIF_QUERY_TIMING, __FILE__, __LINE__); });
    EXPECT_NE(failure.find("the connection to the server was lost and the server rolled back the whole "
                           "transaction"),
              std::string::npos)
        << failure;
    EXPECT_FALSE(viaRelay.isInTransaction());
    relay.thaw();
    EXPECT_NE(viaRelay.queryString("SELECT @@SESSION.sql_mode", DBIF_QUERY_TIMING, __FILE__, __LINE__)
                  .indexOf("NO_BACKSLASH_ESCAPES"),
              -1);
    EXPECT_EQ(countRows("die", "lot = 'frozen'"), 0);

    relay.freeze();
    const DBIF_Connection late = connectThroughRelay();
    EXPECT_FALSE(late.isValid());
    relay.thaw();
    dbifClearAllCaches();
}

DBIF_DATABASE_TEST_SUITE(ReliabilityTest);

}  // namespace
