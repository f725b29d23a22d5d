// Several writers and readers on one database, as on a shared campaign database: two processes saving
// in loops both finish with nothing lost; a refused commit throws and can be repeated; a schema change
// gives up after the lock timeout instead of waiting for a reader; statements are sized in bytes; and
// distinct names never share a cache key.
#include <gtest/gtest.h>

#include <QDateTime>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>

#include "DatabaseTest.h"
#include "dbif/DBIF_CatalogEntry.h"
#include "dbif/DBIF_Die.h"
#include "dbif/DBIF_MeasurementColumn.h"

namespace {

class ConcurrencyTest : public SchemaDatabaseTest {
protected:
};

TEST_P(ConcurrencyTest, TwoProcessesSavingInLoopsBothFinishWithNothingLost) {
    // The wide table's column exists before the writers start; each then only writes rows.
    DBIF_CatalogEntry first =
        DBIF_CatalogEntry::get(connection(), "setup", "0", "run", QDateTime::currentDateTime(), QDateTime(),
                               "u", DBIF_SPARSE_TABLE_STORAGE);
    first.addColumn("Vd", "DB");
    first.save();
    commit();
    const int count = 30;
    // Two writers with the wide table, then two with the multi-table engine, which both need the
    // table of one new column set at the same moment.
    for (const QStringList& engine : {QStringList(), QStringList("multi")}) {
        QList<QProcess*> writers;
        for (const QString tag : {"A", "B"}) {
            auto* writer = new QProcess;
            writer->setProcessChannelMode(QProcess::ForwardedErrorChannel);
            writer->start(QStringLiteral(DBIF_TEST_WRITER),
                          connectionArguments() << tag + engine.join("") << QString::number(count) << engine);
            writers << writer;
        }
        for (QProcess* writer : writers) {
            EXPECT_TRUE(writer->waitForFinished(120000));
            EXPECT_EQ(writer->exitStatus(), QProcess::NormalExit);
            EXPECT_EQ(writer->exitCode(), 0);
            delete writer;
        }
    }
    commit();
    EXPECT_EQ(countRows("die", "lot = 'A'"), count);
    EXPECT_EQ(countRows("die", "lot = 'Bmulti'"), count);
    EXPECT_EQ(countRows("catalog_entry"), 4 * count + 1);
    EXPECT_EQ(countRows("catalog_entry_data"), 2 * count);
    EXPECT_EQ(countRows("catalog_entry_column"), 1);
    // One table for the one column set, holding the rows of both processes.
    ASSERT_EQ(countRows("multi_table"), 1);
    const int table = intOf("SELECT id FROM multi_table");
    EXPECT_EQ(countRows(QStringLiteral("catalog_entry_data_%1").arg(table)), 2 * count);
}

TEST_P(ConcurrencyTest, ARefusedCommitThrowsAndCanBeRepeated) {
    if (isMySql())
        GTEST_SKIP() << "a MySQL reader never blocks a commit";
    DBIF_Connection& writer = connection();
    writer.setLockTimeout(1);
    writer.beginTransaction();
    DBIF_Die::get(writer, "L", "W", "D", "B", "u").save();
    {
        // A reader inside its own transaction holds the file's shared lock.
        QSqlDatabase reader = QSqlDatabase::addDatabase("QSQLITE", "reader");
        reader.setDatabaseName(connectionArguments()[2]);
        ASSERT_TRUE(reader.open());
        QSqlQuery read(reader);
        ASSERT_TRUE(read.exec("BEGIN"));
        ASSERT_TRUE(read.exec("SELECT COUNT(*) FROM die"));
        read.next();
        EXPECT_THROW(writer.endTransaction(), DBIF_Exception);
        EXPECT_TRUE(writer.isInTransaction());
        read.finish();
        ASSERT_TRUE(read.exec("COMMIT"));
    }
    QSqlDatabase::removeDatabase("reader");
    writer.endTransaction();
    DBIF_Connection other = openSecondConnection();
    EXPECT_EQ(other.queryInt("SELECT COUNT(*) FROM die", DBIF_QUERY_TIMING, __FILE__, __LINE__), 1);
}

TEST_P(ConcurrencyTest, ASchemaChangeGivesUpAfterTheLockTimeout) {
    DBIF_Connection reader = openSecondConnection();
    reader.beginTransaction();
    reader.queryInt("SELECT COUNT(*) FROM catalog_entry_data", DBIF_QUERY_TIMING, __FILE__, __LINE__);
    connection().setLockTimeout(1);
    DBIF_CatalogEntry entry =
        DBIF_CatalogEntry::get(connection(), "late", "0", "run", QDateTime::currentDateTime(), QDateTime(),
                               "u", DBIF_SPARSE_TABLE_STORAGE);
    // MySQL: the reader's metadata lock; SQLite: its transaction's write lock.
    EXPECT_THROW(entry.addColumn("Late", "DB"), DBIF_Exception);
    reader.endTransaction();
}

TEST_P(ConcurrencyTest, StatementsAreSizedInBytesAsSent) {
    if (!isMySql())
        GTEST_SKIP() << "SQLite sends one statement per row";
    DBIF_Connection& db = connection();
    exec("CREATE TABLE wide (t VARCHAR(200))");
    // Below the packet limit in characters, above it in bytes: sent in several statements.
    const int rows = db.getPacketLimit() / 160;
    const QStringList values(rows, db.quoteText(QString(150, QChar(0xB5))));
    db.insertSet("wide", "t", values, __FILE__, __LINE__);
    EXPECT_EQ(countRows("wide"), rows);
    // One row larger than the server's packet is refused before it is sent; the connection lives on.
    EXPECT_THROW(db.insertSet("wide", "t", {db.quoteText(QString(db.getPacketLimit(), QChar(0xB5)))},
                              __FILE__, __LINE__),
                 DBIF_Exception);
    EXPECT_EQ(intOf("SELECT 1"), 1);
}

TEST_P(ConcurrencyTest, DistinctNamesNeverShareAKey) {
    DBIF_Connection& db = connection();
    DBIF_Die first = DBIF_Die::get(db, "a|b", "c", "d", "e", "u");
    DBIF_Die second = DBIF_Die::get(db, "a", "b|c", "d", "e", "u");
    EXPECT_NE(first.getKey(), second.getKey());
    first.save();
    second.save();
    EXPECT_EQ(countRows("die"), 2);
    const QList<QPair<QString, QString>> names = {{"\u00e9", "\u00c9"},
                                                  {"\u00df", "ss"},
                                                  {"\u00b5", "\u039c"},
                                                  {"a\\|b", "a|\\b"},
                                                  {"v" + QString(70, 'x'), "V" + QString(70, 'x')}};
    for (const auto& pair : names) {
        EXPECT_NE(DBIF_MeasurementColumn::computeKey(pair.first, "DB"),
                  DBIF_MeasurementColumn::computeKey(pair.second, "DB"))
            << pair.first.toStdString();
    }
}

DBIF_DATABASE_TEST_SUITE(ConcurrencyTest);

}  // namespace
