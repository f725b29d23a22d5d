// The promises every entity kind keeps, run over all seven kinds on both drivers: a null handle
// reports and gives empty values; key fields holding "|" or "\" and hostile texts never merge two
// objects and come back exactly; names that differ only in case, accents or trailing blanks stay
// apart (also in the latest records); a new entity that finds its row stored keeps the stored rows.
// Each promise is one test body, written once for every kind.
#include <gtest/gtest.h>

#include <QList>
#include <QPair>
#include <type_traits>

#include "CampaignTest.h"
#include "dbif/DBIF_Measurement.h"
#include "dbif/DBIF_SingleColumnCondition.h"

namespace {

template <typename E>
constexpr bool HAS_DATA_TABLE = !std::is_same_v<E, DBIF_Die> && !std::is_same_v<E, DBIF_Routine>;

template <typename E>
class EntityPromisesTest : public CampaignTest {
protected:
    // The run the kinds of a run belong to: the stored one once it has an id, on whichever connection
    // builds, so that a second connection's entities name the same run.
    DBIF_CatalogEntry theRun() {
        if (runId == -1)
            return run(0, type);
        return DBIF_CatalogEntry::get(on(), runId);
    }

    // A new entity (or the cached one) whose two identifying texts are a and b.
    E make(const QString& a, const QString& b) {
        if constexpr (std::is_same_v<E, DBIF_Die>) {
            return DBIF_Die::get(on(), a, b, "D1", "B", "alice");
        } else if constexpr (std::is_same_v<E, DBIF_Routine>) {
            return DBIF_Routine::get(on(), a, b, "alice");
        } else if constexpr (std::is_same_v<E, DBIF_CatalogEntry>) {
            const QDateTime start(QDate(2024, 5, 2), QTime(8, 0, 0));
            return DBIF_CatalogEntry::get(on(), a, b, "IdVd", start, start.addSecs(60), "alice", type);
        } else {
            DBIF_CatalogEntry entry = theRun();
            if constexpr (std::is_same_v<E, DBIF_Device>) {
                return DBIF_Device::get(on(), a, b, "S1", 2, &entry, type);
            } else if constexpr (std::is_same_v<E, DBIF_MeasurementCondition>) {
                return DBIF_MeasurementCondition::get(on(), a, &entry,
                                                      DBIF_Routine::get(on(), b, "sweep", "alice"), type);
            } else if constexpr (std::is_same_v<E, DBIF_Measurement>) {
                return DBIF_Measurement::get(on(), die("D1"), &entry, device(entry, type, a, b),
                                             condition(entry, type), 25, type);
            } else {
                return DBIF_Setup::get(on(), a, "/" + b, b, "MEASURED", &entry, type);
            }
        }
    }

    // The two identifying texts as the entity gives them back.
    static QStringList texts(const E& e) {
        if constexpr (std::is_same_v<E, DBIF_Die>)
            return {e.getLot(), e.getWafer()};
        else if constexpr (std::is_same_v<E, DBIF_Routine>)
            return {e.getName(), e.getDefinition()};
        else if constexpr (std::is_same_v<E, DBIF_CatalogEntry>)
            return {e.getApplication(), e.getApplicationVersion()};
        else if constexpr (std::is_same_v<E, DBIF_Device>)
            return {e.getName(), e.getDeviceType()};
        else if constexpr (std::is_same_v<E, DBIF_MeasurementCondition>)
            return {e.getName(), e.getRoutine().getName()};
        else if constexpr (std::is_same_v<E, DBIF_Measurement>)
            return {e.getDevice().getName(), e.getDevice().getDeviceType()};
        else
            return {e.getName(), e.getRunType()};
    }

    // Calls every accessor and operation a host can call on a handle; returns the texts it got.
    static QStringList touchAll(E e) {
        e.save();
        e.saveSelf();
        e.reload();
        QStringList got{e.getKey(), e.getUser(), e.getModifiedTime().toString()};
        got += texts(e);
        if constexpr (HAS_DATA_TABLE<E>) {
            const auto column = valueColumn(e);
            e.addRow();
            e.set(column, 1.0);
            e.getData(column, 0);
            got << e.getColumnKeys().join("");
            got << (e.rowCount() == 0 && !e.isDirty() ? "" : "rows");
        }
        if constexpr (std::is_same_v<E, DBIF_Die>) {
            got << e.getDie() << e.getBlock();
        } else if constexpr (std::is_same_v<E, DBIF_CatalogEntry>) {
            got << e.getRunType() << e.getSchemaVersion() << e.getModelText() << e.getStartTime().toString()
                << e.getParent().getKey();
            e.getSetups();
            e.getMeasurements();
        } else if constexpr (std::is_same_v<E, DBIF_Device>) {
            e.setName("x");
            e.addSetup(DBIF_Setup(), 0);
            e.loadSubordinates();
            e.getSetups();
            e.mayNeedToAttachSetups();
            e.getPositionWithinSubsite();
            got << e.getParentSubsiteName() << e.getCatalogEntry()->getKey();
        } else if constexpr (std::is_same_v<E, DBIF_MeasurementCondition>) {
            e.setCatalogEntry(nullptr);
            got << e.getRoutine().getKey() << e.getCatalogEntry()->getKey();
        } else if constexpr (std::is_same_v<E, DBIF_Measurement>) {
            e.loadSubordinates();
            QStringList paths;
            e.getSetupPaths(paths);
            e.getSetupMap();
            e.mayNeedToAttachSetup();
            e.getTemperature();
            got << e.getDie().getKey() << e.getMeasurementCondition().getKey() << paths.join("")
                << e.getCatalogEntry()->getKey();
        } else if constexpr (std::is_same_v<E, DBIF_Setup>) {
            e.setPath("p");
            e.setQuarnHeader("k", "h");
            e.getAssociatedDeviceDataRow();
            got << e.getPath() << e.getDataOrigin() << e.getQuarnHeader("k") << e.getCatalogEntry()->getKey();
            EXPECT_EQ(e.getMeasurement(), nullptr);
        }
        return got;
    }

    // The kind's real-number data column "V".
    template <typename Entity = E>
    static auto valueColumn(Entity& e) {
        if constexpr (std::is_same_v<Entity, DBIF_Device> ||
                      std::is_same_v<Entity, DBIF_MeasurementCondition>)
            return e.addColumn("V", "DB", "v");
        else if constexpr (std::is_same_v<Entity, DBIF_Setup>)
            return e.addColumn("V", "DB", false, "v");
        else
            return e.addColumn("V", "DB");
    }
    static void addValueRow(E& e, double value) {
        if constexpr (HAS_DATA_TABLE<E>) {
            const auto column = valueColumn(e);
            e.addRow();
            e.set(column, value);
        }
    }
    static QList<double> values(E e) {
        QList<double> result;
        if constexpr (HAS_DATA_TABLE<E>) {
            const auto column = valueColumn(e);
            for (unsigned row = 0; row < e.rowCount(); ++row)
                result << e.getData(column, row).toDouble();
        }
        return result;
    }
    // Saves, keeps the run's id for the entities built later and makes everything visible to others.
    void saveAndCommit(E& e) {
        e.save();
        if constexpr (HAS_DATA_TABLE<E> && !std::is_same_v<E, DBIF_CatalogEntry>) {
            if (runId == -1)
                runId = theRun().getId();
        }
        commit(on());
    }

    void nullHandleReportsAndGivesEmptyValues() {
        const std::string missing = stderrOf([&] { EXPECT_TRUE(E::get(connection(), 9999).isNull()); });
        EXPECT_NE(missing.find("not found"), std::string::npos) << missing;
        for (const E& e : {E(), E::get(connection(), 9999)}) {
            QStringList got;
            const std::string reports = stderrOf([&] { got = touchAll(e); });
            EXPECT_GE(countOf(reports, "ASSERTION failed"), 6) << reports;
            EXPECT_EQ(got.join(""), "") << reports;
            EXPECT_EQ(e.getId(), -1);
        }
    }

    void keyFieldsAndHostileTextsComeBackExactly() {
        const QList<QPair<QString, QString>> pairs = {{"a|b", "c"},
                                                      {"a", "b|c"},
                                                      {"a\\", "|c"},
                                                      {"a\\|", "c"},
                                                      {"a", "\\|c"},
                                                      {"it's", "x'); DROP TABLE die; -- %1"},
                                                      {"end\\", "\"q\"\nline"}};
        QList<E> made;
        for (int i = 0; i < pairs.size(); ++i) {
            E e = make(pairs[i].first, pairs[i].second);
            for (const E& earlier : made)
                EXPECT_TRUE(e != earlier) << pairs[i].first << " " << pairs[i].second;
            addValueRow(e, i);
            saveAndCommit(e);
            made << e;
        }
        DBIF_Connection other = openSecondConnection();
        for (int i = 0; i < pairs.size(); ++i) {
            const E back = E::get(other, made[i].getId());
            ASSERT_FALSE(back.isNull());
            EXPECT_EQ(texts(back), QStringList({pairs[i].first, pairs[i].second}));
            EXPECT_EQ(values(back), HAS_DATA_TABLE<E> ? QList<double>{double(i)} : QList<double>());
        }
    }

    void namesDifferingInCaseAccentsOrBlanksStayApart() {
        const QStringList names = {"m1", "M1", "m1 ", QString::fromUtf8("\u00e9"), "e"};
        QList<int> first;
        for (int i = 0; i < names.size(); ++i) {
            E e = make(names[i], names[i]);
            addValueRow(e, i);
            saveAndCommit(e);
            EXPECT_FALSE(first.contains(e.getId())) << names[i];
            first << e.getId();
        }
        // Each is the latest of a combination of its own.
        if constexpr (std::is_same_v<E, DBIF_Measurement> || std::is_same_v<E, DBIF_Setup>) {
            const DBIF_SingleColumnCondition all(E::MASTER_TABLE_NAME, "id", Greater, 0);
            EXPECT_EQ(E::query(connection(), all, true).size(), names.size());
        }
        // The same names through a connection that has read nothing: each finds its own row or none.
        DBIF_Connection other = openSecondConnection();
        building = &other;
        for (int i = names.size() - 1; i >= 0; --i) {
            E again = make(names[i], names[i]);
            saveAndCommit(again);
            EXPECT_TRUE(again.getId() == first[i] || !first.contains(again.getId())) << names[i];
            if constexpr (std::is_same_v<E, DBIF_Die> || std::is_same_v<E, DBIF_Routine> ||
                          std::is_same_v<E, DBIF_Device>) {
                EXPECT_EQ(again.getId(), first[i]) << names[i];
            }
        }
        building = nullptr;
        emptyEntityCaches();
        for (int i = 0; i < names.size(); ++i) {
            const E back = E::get(connection(), first[i]);
            EXPECT_EQ(texts(back), QStringList({names[i], names[i]}));
            EXPECT_EQ(values(back), HAS_DATA_TABLE<E> ? QList<double>{double(i)} : QList<double>());
        }
    }

    // A new entity whose save finds its row stored (a device) adds to the stored rows, whether the
    // host filled it before that save or after; any other kind stores a row of its own.
    void anEntityThatFindsItsRowStoredKeepsTheStoredRows() {
        for (const DBIF_StorageEngineType engine : ENGINES) {
            for (const bool filledFirst : {false, true}) {
                SCOPED_TRACE(testing::Message() << "engine " << engine << ", filled first " << filledFirst);
                type = engine;
                runId = -1;
                const QString name = QStringLiteral("t%1%2").arg(engine).arg(filledFirst);
                E stored = make(name, "nmos");
                for (double value : {0.0, 1.0, 2.0})
                    addValueRow(stored, value);
                saveAndCommit(stored);

                DBIF_Connection other = openSecondConnection();
                building = &other;
                E again = make(name, "nmos");
                QList<double> added;
                if (filledFirst) {
                    addValueRow(again, 98);
                    added << 98;
                }
                saveAndCommit(again);
                addValueRow(again, 99);
                added << 99;
                saveAndCommit(again);
                building = nullptr;
                emptyEntityCaches();

                const QList<double> original{0.0, 1.0, 2.0};
                if (std::is_same_v<E, DBIF_Device>) {
                    EXPECT_EQ(again.getId(), stored.getId());
                }
                if (again.getId() == stored.getId()) {
                    EXPECT_EQ(values(E::get(connection(), stored.getId())), original + added);
                } else {
                    EXPECT_EQ(values(E::get(connection(), stored.getId())), original);
                    EXPECT_EQ(values(E::get(connection(), again.getId())), added);
                }
            }
        }
    }

    DBIF_StorageEngineType type = DBIF_MULTI_TABLE_STORAGE;
    int runId = -1;
};

// The promises of one kind as a suite of its own, so that a report names the kind; on both drivers.
#define DBIF_PROMISES(Suite, Kind)                                \
    using Suite = EntityPromisesTest<Kind>;                       \
    TEST_P(Suite, NullHandleReportsAndGivesEmptyValues) {         \
        nullHandleReportsAndGivesEmptyValues();                   \
    }                                                             \
    TEST_P(Suite, KeyFieldsAndHostileTextsComeBackExactly) {      \
        keyFieldsAndHostileTextsComeBackExactly();                \
    }                                                             \
    TEST_P(Suite, NamesDifferingInCaseAccentsOrBlanksStayApart) { \
        namesDifferingInCaseAccentsOrBlanksStayApart();           \
    }
// The kinds with a data table keep their stored rows as well.
#define DBIF_DATA_PROMISES(Suite, Kind)                              \
    DBIF_PROMISES(Suite, Kind)                                       \
    TEST_P(Suite, AnEntityThatFindsItsRowStoredKeepsTheStoredRows) { \
        anEntityThatFindsItsRowStoredKeepsTheStoredRows();           \
    }

DBIF_PROMISES(DiePromisesTest, DBIF_Die)
DBIF_DATABASE_TEST_SUITE(DiePromisesTest);
DBIF_PROMISES(RoutinePromisesTest, DBIF_Routine)
DBIF_DATABASE_TEST_SUITE(RoutinePromisesTest);
DBIF_DATA_PROMISES(CatalogEntryPromisesTest, DBIF_CatalogEntry)
DBIF_DATABASE_TEST_SUITE(CatalogEntryPromisesTest);
DBIF_DATA_PROMISES(DevicePromisesTest, DBIF_Device)
DBIF_DATABASE_TEST_SUITE(DevicePromisesTest);
DBIF_DATA_PROMISES(MeasurementConditionPromisesTest, DBIF_MeasurementCondition)
DBIF_DATABASE_TEST_SUITE(MeasurementConditionPromisesTest);
DBIF_DATA_PROMISES(MeasurementPromisesTest, DBIF_Measurement)
DBIF_DATABASE_TEST_SUITE(MeasurementPromisesTest);
DBIF_DATA_PROMISES(SetupPromisesTest, DBIF_Setup)
DBIF_DATABASE_TEST_SUITE(SetupPromisesTest);

}  // namespace
