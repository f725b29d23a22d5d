// The library on a three-node MariaDB Galera cluster (scripts/test --galera, which names the nodes'
// client ports in DBIF_TEST_GALERA_PORTS and the cluster's folder, with each node's server.pid, in
// DBIF_TEST_GALERA_DIR). The test's own connection goes through node 1. A commit through one node is
// read through another right after it; two processes registering the same new column sets through two
// nodes end with one table each and every row visible; a transaction that loses certification is
// gone and can be retried; a node killed in a save's transaction loses that save and nothing before it.
// Without the cluster every case is skipped. The last case kills node 2, so it comes last.
#include <gtest/gtest.h>

#include <QDateTime>
#include <QFile>
#include <QProcess>
#include <QThread>
#include <csignal>

#include "DatabaseTest.h"
#include "dbif/DBIF_CatalogEntry.h"
#include "dbif/DBIF_Die.h"

namespace {

class GaleraTest : public SchemaDatabaseTest {
protected:
    void SetUp() override {
        if (ports().size() != 3)
            GTEST_SKIP() << "no Galera cluster configured (run scripts/test --galera)";
        SchemaDatabaseTest::SetUp();
    }
    static QStringList ports() {
        return QString::fromLocal8Bit(qgetenv("DBIF_TEST_GALERA_PORTS")).split(',', Qt::SkipEmptyParts);
    }
    // The connection parameters of the test's database through node n (1 to 3).
    QStringList nodeArguments(int n) const {
        QStringList arguments = connectionArguments();
        arguments[5] = ports()[n - 1];
        return arguments;
    }
    DBIF_Connection node(int n) const {
        const QStringList a = nodeArguments(n);
        return DBIF_Connection("QMYSQL", a[1].toLocal8Bit().constData(), a[2].toLocal8Bit().constData(),
                               a[3].toLocal8Bit().constData(), a[4].toLocal8Bit().constData(), a[5].toInt());
    }
    static int count(const DBIF_Connection& db, const QString& sql) {
        return db.queryInt(sql, DBIF_QUERY_TIMING, __FILE__, __LINE__);
    }
    static DBIF_CatalogEntry entry(const DBIF_Connection& db, const QString& name, double vd) {
        const QDateTime start(QDate(2024, 5, 2), QTime(8, 0, 0));
        DBIF_CatalogEntry e =
            DBIF_CatalogEntry::get(db, name, "1", "run", start, start, "u", DBIF_MULTI_TABLE_STORAGE);
        const DBIF_CatalogEntryColumn column = e.addColumn("Vd", "DB");
        e.addRow();
        e.set(column, QVariant(vd));
        return e;
    }
};

TEST_P(GaleraTest, ACommitThroughOneNodeIsReadThroughAnotherRightAfterIt) {
    DBIF_Connection third = node(3);
    // The library asks the node to apply what the cluster committed before a read that starts a
    // transaction (the server skips the wait inside one): the reader's next transaction sees it.
    EXPECT_EQ(count(third, "SELECT @@session.wsrep_sync_wait"), 1);
    for (int i = 0; i < 20; ++i) {
        DBIF_Die::get(connection(), "L", QString::number(i), "D", "B", "u").save();  // commits on its own
        commit(third);
        ASSERT_EQ(count(third, "SELECT COUNT(*) FROM die"), i + 1) << "die " << i;
    }
    // A sparse column added through node 1 is usable through node 2 as soon as its statement returns.
    DBIF_CatalogEntry wide =
        DBIF_CatalogEntry::get(connection(), "wide", "1", "run", QDateTime::currentDateTime(), QDateTime(),
                               "u", DBIF_SPARSE_TABLE_STORAGE);
    wide.addColumn("Late", "DB");
    wide.save();
    DBIF_Connection second = node(2);
    DBIF_CatalogEntry through =
        DBIF_CatalogEntry::get(second, "other", "1", "run", QDateTime::currentDateTime(), QDateTime(), "u",
                               DBIF_SPARSE_TABLE_STORAGE);
    const DBIF_CatalogEntryColumn late = through.addColumn("Late", "DB");
    through.addRow();
    through.set(late, QVariant(2.5));
    through.save();
    commit(third);  // the read that follows starts a transaction of its own, and waits
    EXPECT_EQ(
        count(
            third,
            QStringLiteral("SELECT COUNT(*) FROM catalog_entry_data WHERE \"%1\" = 2.5").arg(late.getKey())),
        1);
}

TEST_P(GaleraTest, TwoProcessesRegisteringTheSameNewColumnSetsThroughTwoNodesShareOneTableEach) {
    const int sets = 20;
    const QString startAt = QString::number(QDateTime::currentMSecsSinceEpoch() + 1500);
    QList<QProcess*> writers;
    for (int n : {1, 2}) {
        auto* writer = new QProcess;
        writer->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        writer->start(QStringLiteral(DBIF_TEST_WRITER), nodeArguments(n)
                                                            << QStringLiteral("N%1").arg(n)
                                                            << QString::number(sets) << "sets" << startAt);
        writers << writer;
    }
    for (QProcess* writer : writers) {
        EXPECT_TRUE(writer->waitForFinished(300000));
        // Exit status 1: an error the writer was not told it could retry.
        EXPECT_EQ(writer->exitCode(), 0);
        RecordProperty("writer", writer->readAllStandardOutput().trimmed().toStdString());
        delete writer;
    }
    // Through node 3: one table per column set, holding the rows of both processes, each loadable.
    DBIF_Connection third = node(3);
    EXPECT_EQ(count(third, "SELECT COUNT(*) FROM multi_table"), sets);
    const QList<int> tables =
        third.queryScalarList<int>("SELECT id FROM multi_table", DBIF_QUERY_TIMING, __FILE__, __LINE__);
    for (const int table : tables)
        EXPECT_EQ(count(third, QStringLiteral("SELECT COUNT(*) FROM catalog_entry_data_%1").arg(table)), 2)
            << "table " << table;
    const QList<int> entries =
        third.queryScalarList<int>("SELECT id FROM catalog_entry", DBIF_QUERY_TIMING, __FILE__, __LINE__);
    EXPECT_EQ(entries.size(), 2 * sets);
    for (const int id : entries) {
        const DBIF_CatalogEntry back = DBIF_CatalogEntry::get(third, id);
        ASSERT_EQ(back.rowCount(), 1u) << "entry " << id;
        EXPECT_EQ(back.getData(DBIF_CatalogEntryColumn::computeKey("Vd", "DB"), 0).toDouble(),
                  back.getApplicationVersion().toInt() * 0.5)
            << "entry " << id;
    }
}

TEST_P(GaleraTest, ATransactionThatLosesCertificationIsGoneAndCanBeRetried) {
    DBIF_Die::get(connection(), "L", "W", "D", "B", "u").save();
    DBIF_Connection first = node(1), second = node(2);
    // Both change the same row through two nodes; the later commit loses certification.
    for (DBIF_Connection* db : {&first, &second}) {
        db->beginTransaction();
        db->query(QStringLiteral("UPDATE die SET block = '%1'").arg(db == &first ? "one" : "two"),
                  DBIF_UPDATE_TIMING, __FILE__, __LINE__);
    }
    first.endTransaction();
    bool retryable = false;
    try {
        second.endTransaction();
    } catch (const DBIF_Exception& e) {
        retryable = e.isRetryable();
        EXPECT_NE(std::string(e.what()).find("nothing saved since beginTransaction() is stored"),
                  std::string::npos)
            << e.what();
    }
    EXPECT_TRUE(retryable);
    EXPECT_FALSE(second.isInTransaction());
    second.endTransaction();  // nothing left to commit, and nothing pretends to be
    commit(first);
    EXPECT_EQ(count(node(3), "SELECT COUNT(*) FROM die WHERE block = 'one'"), 1);
}

TEST_P(GaleraTest, ANodeKilledInASavesTransactionLosesThatSaveAndNothingBefore) {
    DBIF_Connection second = node(2);
    entry(second, "before", 1.0).save();  // committed through node 2
    second.beginTransaction();
    entry(second, "lost", 2.0).save();
    const QByteArray pidFile = qgetenv("DBIF_TEST_GALERA_DIR") + "/node2/server.pid";
    QFile file(QString::fromLocal8Bit(pidFile));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << pidFile.constData();
    const pid_t pid = file.readAll().trimmed().toInt();
    ASSERT_EQ(::kill(pid, SIGKILL), 0);
    while (::kill(pid, 0) == 0)
        QThread::msleep(50);
    EXPECT_THROW(second.endTransaction(), DBIF_Exception);
    EXPECT_FALSE(second.isInTransaction());

    for (int n : {1, 3}) {
        const DBIF_Connection survivor = node(n);
        EXPECT_EQ(count(survivor, "SELECT COUNT(*) FROM catalog_entry WHERE application = 'before'"), 1);
        EXPECT_EQ(count(survivor, "SELECT COUNT(*) FROM catalog_entry WHERE application = 'lost'"), 0);
    }
    // The lost save, made again through node 1.
    emptyEntityCaches();
    const DBIF_Connection first = node(1);
    entry(first, "lost", 2.0).save();
    EXPECT_EQ(count(node(3), "SELECT COUNT(*) FROM catalog_entry WHERE application = 'lost'"), 1);
}

INSTANTIATE_TEST_SUITE_P(Cluster, GaleraTest, ::testing::Values("QMYSQL"), driverTestName);

}  // namespace
