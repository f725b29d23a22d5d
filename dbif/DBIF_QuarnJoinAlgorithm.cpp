// DBIF_QuarnJoinAlgorithm.cpp: the static join graph of the fixed schema, the edges of dynamic data
// tables, and the one-edge-per-table join with measurement as preferred anchor and fallback hub.
#include "dbif/DBIF_QuarnJoinAlgorithm.h"

#include <algorithm>

#include "dbif/DBIF_Query.h"
#include "dbif/DBIF_Utilities.h"

namespace {

const QString MEASUREMENT = QStringLiteral("measurement");

// The two join failures report a fixed location that hosts match on: the algorithm's original file.
const char* const QUARN_QUERY_FILE = "dbif/DBIF_QuarnQuery";
const int JOIN_TABLES_FAILED_LINE = 409;
const int JOIN_TABLE_FAILED_LINE = 497;

// One row of the static graph. A row with a through table is a JoinGraphThrough.
struct StaticEdge {
    const char* firstTable;
    const char* firstColumn;
    const char* secondTable;
    const char* secondColumn;
    const char* throughTable;
    const char* throughColumnToFirst;
    const char* throughColumnToSecond;
    bool flip;
};

// Each row is stored under both orders of its two tables.
const StaticEdge STATIC_EDGES[] = {
    {"setup", "id", "setup_data", "setup_id", nullptr, nullptr, nullptr, false},
    {"measurement", "id", "measurement_data", "measurement_id", nullptr, nullptr, nullptr, false},
    {"measurement_condition", "id", "measurement_condition_data", "measurement_condition_id", nullptr,
     nullptr, nullptr, false},
    {"device", "id", "device_data", "device_id", nullptr, nullptr, nullptr, false},
    {"catalog_entry", "id", "catalog_entry_data", "catalog_entry_id", nullptr, nullptr, nullptr, false},
    {"setup", "id", "measurement", "id", "measurement_setup", "setup_id", "measurement_id", false},
    {"setup_data", "setup_id", "measurement", "id", "measurement_setup", "setup_id", "measurement_id", false},
    {"device", "id", "measurement", "device_id", nullptr, nullptr, nullptr, false},
    {"device_data", "device_id", "measurement", "device_id", nullptr, nullptr, nullptr, false},
    {"measurement_condition", "id", "measurement", "measurement_condition_id", nullptr, nullptr, nullptr,
     false},
    {"measurement_condition_data", "measurement_condition_id", "measurement", "measurement_condition_id",
     nullptr, nullptr, nullptr, false},
    {"measurement_setup", "measurement_id", "measurement", "id", nullptr, nullptr, nullptr, false},
    {"measurement", "die_id", "die", "id", nullptr, nullptr, nullptr, false},
    {"measurement", "id", "latest_measurement", "measurement_id", nullptr, nullptr, nullptr, false},
    {"setup", "id", "latest_setup", "setup_id", nullptr, nullptr, nullptr, false},
    {"measurement_condition", "routine_id", "routine", "id", nullptr, nullptr, nullptr, false},
    {"measurement", "measurement_condition_id", "routine", "id", "measurement_condition", "id", "routine_id",
     true},
    {"measurement", "catalog_entry_id", "catalog_entry", "id", nullptr, nullptr, nullptr, false},
    {"catalog_entry_data", "catalog_entry_id", "measurement", "catalog_entry_id", nullptr, nullptr, nullptr,
     false},
    {"measurement_condition", "catalog_entry_id", "catalog_entry", "id", nullptr, nullptr, nullptr, false},
    {"catalog_entry_data", "catalog_entry_id", "measurement_condition", "catalog_entry_id", nullptr, nullptr,
     nullptr, false},
    {"device", "catalog_entry_id", "catalog_entry", "id", nullptr, nullptr, nullptr, false},
    {"catalog_entry_data", "catalog_entry_id", "device", "catalog_entry_id", nullptr, nullptr, nullptr,
     false},
    {"catalog_entry", "id", "catalog_entry_column", "id", "catalog_entry_association", "catalog_entry_id",
     "catalog_entry_column_id", false},
    {"device", "id", "device_column", "id", "device_association", "device_id", "device_column_id", false},
    {"measurement", "id", "measurement_column", "id", "measurement_association", "measurement_id",
     "measurement_column_id", false},
    {"measurement_condition", "id", "measurement_condition_column", "id", "measurement_condition_association",
     "measurement_condition_id", "measurement_condition_column_id", false},
    {"setup", "id", "setup_column", "id", "setup_association", "setup_id", "setup_column_id", false},
};

// The base data tables whose further tables can be registered; each joins its master table (the
// base name without "_data") by <master>.id = <table>.<master>_id.
const char* const BASE_DATA_TABLES[] = {"catalog_entry_data", "device_data", "measurement_data",
                                        "measurement_condition_data", "setup_data"};

QStringList sorted(const QSet<QString>& set) {
    QStringList names = toStringList(set);
    names.sort();
    return names;
}

}  // namespace

DBIF_QuarnJoinAlgorithm::JoinGraphVertexPair::JoinGraphVertexPair(const QString& from, const QString& to)
    : from(from), to(to), hash(computeHash()) {}

DBIF_QuarnJoinAlgorithm::JoinGraphVertexPair::~JoinGraphVertexPair() = default;

size_t DBIF_QuarnJoinAlgorithm::JoinGraphVertexPair::computeHash() const {
    return qHash(from) ^ qHash(to);
}

size_t qHash(const DBIF_QuarnJoinAlgorithm::JoinGraphVertexPair& pair, size_t) {
    return pair.hash;
}

DBIF_QuarnJoinAlgorithm::JoinGraphEdge::JoinGraphEdge(const QString& firstTable, const QString& firstColumn,
                                                      const QString& secondTable, const QString& secondColumn)
    : firstTable(firstTable),
      firstColumn(firstColumn),
      secondTable(secondTable),
      secondColumn(secondColumn) {}

DBIF_QuarnJoinAlgorithm::JoinGraphEdge::~JoinGraphEdge() = default;

QStringList DBIF_QuarnJoinAlgorithm::JoinGraphEdge::addJoin(DBIF_Query& query) const {
    query.addJoin(firstTable, firstColumn, secondTable, secondColumn);
    return {firstTable, secondTable};
}

QString DBIF_QuarnJoinAlgorithm::JoinGraphEdge::dump() const {
    return QStringLiteral("%1.%2 => %3.%4").arg(firstTable, firstColumn, secondTable, secondColumn);
}

DBIF_QuarnJoinAlgorithm::JoinGraphThrough::JoinGraphThrough(
    const QString& firstTable, const QString& firstColumn, const QString& secondTable,
    const QString& secondColumn, const QString& throughTable, const QString& throughColumnToFirst,
    const QString& throughColumnToSecond, bool flip)
    : JoinGraphEdge(firstTable, firstColumn, secondTable, secondColumn),
      throughTable(throughTable),
      throughColumnToFirst(throughColumnToFirst),
      throughColumnToSecond(throughColumnToSecond),
      flip(flip) {}

DBIF_QuarnJoinAlgorithm::JoinGraphThrough::~JoinGraphThrough() = default;

QStringList DBIF_QuarnJoinAlgorithm::JoinGraphThrough::addJoin(DBIF_Query& query) const {
    query.addJoin(firstTable, firstColumn, throughTable, throughColumnToFirst);
    if (flip)
        query.addJoin(throughTable, throughColumnToSecond, secondTable, secondColumn);
    else
        query.addJoin(secondTable, secondColumn, throughTable, throughColumnToSecond);
    query.addTable(throughTable);
    return {firstTable, throughTable, secondTable};
}

QString DBIF_QuarnJoinAlgorithm::JoinGraphThrough::dump() const {
    return QStringLiteral("%1.%2 => %3.%4|%5 => %6.%7")
        .arg(firstTable, firstColumn, throughTable, throughColumnToFirst, throughColumnToSecond, secondTable,
             secondColumn);
}

DBIF_QuarnJoinAlgorithm::~DBIF_QuarnJoinAlgorithm() = default;

DBIF_QuarnJoinAlgorithm::JoinGraph& DBIF_QuarnJoinAlgorithm::joinGraph() {
    // Never freed, so the edges stay reachable until the process ends.
    static JoinGraph* const graph = new JoinGraph;
    return *graph;
}

void DBIF_QuarnJoinAlgorithm::createStaticJoinGraph() {
    if (!joinGraph().isEmpty())
        return;
    for (const StaticEdge& row : STATIC_EDGES) {
        JoinGraphEdge* edge =
            row.throughTable
                ? new JoinGraphThrough(QLatin1String(row.firstTable), QLatin1String(row.firstColumn),
                                       QLatin1String(row.secondTable), QLatin1String(row.secondColumn),
                                       QLatin1String(row.throughTable),
                                       QLatin1String(row.throughColumnToFirst),
                                       QLatin1String(row.throughColumnToSecond), row.flip)
                : new JoinGraphEdge(QLatin1String(row.firstTable), QLatin1String(row.firstColumn),
                                    QLatin1String(row.secondTable), QLatin1String(row.secondColumn));
        insertEdges(edge->firstTable, edge->secondTable, edge);
    }
}

void DBIF_QuarnJoinAlgorithm::insertEdges(const QString& a, const QString& b, JoinGraphEdge* edge) {
    insertGraphEdge(JoinGraphVertexPair(a, b), edge);
    insertGraphEdge(JoinGraphVertexPair(b, a), edge);
}

void DBIF_QuarnJoinAlgorithm::insertGraphEdge(const JoinGraphVertexPair& pair, JoinGraphEdge* edge) {
    JoinGraph& graph = joinGraph();
    JoinGraphEdge* const replaced = graph.value(pair, nullptr);
    graph.insert(pair, edge);
    if (replaced && replaced != edge && std::find(graph.cbegin(), graph.cend(), replaced) == graph.cend())
        delete replaced;
}

void DBIF_QuarnJoinAlgorithm::addDynamicJoinData(const QString& baseDataTableName,
                                                 const QString& dataTableName) {
    createStaticJoinGraph();
    const auto known =
        std::find_if(std::begin(BASE_DATA_TABLES), std::end(BASE_DATA_TABLES),
                     [&](const char* base) { return baseDataTableName == QLatin1String(base); });
    if (known == std::end(BASE_DATA_TABLES))
        return;
    const QString master = baseDataTableName.chopped(int(qstrlen("_data")));
    // Stored under (new table, master) only: the new table attaches to its master once that is joined.
    insertGraphEdge(
        JoinGraphVertexPair(dataTableName, master),
        new JoinGraphEdge(master, QStringLiteral("id"), dataTableName, QStringLiteral("%1_id").arg(master)));
    if (master == QLatin1String("setup")) {
        insertGraphEdge(
            JoinGraphVertexPair(dataTableName, MEASUREMENT),
            new JoinGraphThrough(dataTableName, QStringLiteral("setup_id"), MEASUREMENT, QStringLiteral("id"),
                                 QStringLiteral("measurement_setup"), QStringLiteral("setup_id"),
                                 QStringLiteral("measurement_id"), false));
    }
}

QString DBIF_QuarnJoinAlgorithm::dumpGraph() {
    createStaticJoinGraph();
    QString text = QStringLiteral("Join Graph: \n");
    for (const JoinGraphEdge* edge : std::as_const(joinGraph()))
        text += edge->dump() + QLatin1Char('\n');
    return text;
}

void DBIF_QuarnJoinAlgorithm::deleteJoinGraph() {
    JoinGraph& graph = joinGraph();
    const QList<JoinGraphEdge*> stored = graph.values();
    const QSet<JoinGraphEdge*> edges(stored.cbegin(), stored.cend());
    graph.clear();
    qDeleteAll(edges);
}

void DBIF_QuarnJoinAlgorithm::computeJoins(DBIF_Query& query) {
    createStaticJoinGraph();
    pendingTables.clear();
    joinedTables.clear();
    if (query.getTables().size() < 2)
        return;
    if (!attemptJoin(query)) {
        assert2(false, QUARN_QUERY_FILE, JOIN_TABLES_FAILED_LINE,
                QStringLiteral("Couldn't find a way to join tables [%1] to joined tables: [%2]"),
                sorted(pendingTables).join(QStringLiteral(", ")), joinedTables.join(QStringLiteral(", ")));
    }
}

bool DBIF_QuarnJoinAlgorithm::attemptJoin(DBIF_Query& query) {
    pendingTables = query.getTables();
    markJoined(startTable());
    // A snapshot: tables joined meanwhile (through tables, the hub) are skipped below.
    const QStringList visiting = sorted(pendingTables);
    for (const QString& table : visiting) {
        while (pendingTables.contains(table) && !joinTable(query, table, false)) {
            if (joinedTables.contains(MEASUREMENT))
                return false;
            query.addTable(MEASUREMENT);
            if (!joinTable(query, MEASUREMENT, true))
                return false;
        }
    }
    return true;
}

bool DBIF_QuarnJoinAlgorithm::joinTable(DBIF_Query& query, const QString& table, bool reportFailure) {
    const JoinGraph& graph = joinGraph();
    const JoinGraphEdge* edge = nullptr;
    if (joinedTables.contains(MEASUREMENT))
        edge = graph.value(JoinGraphVertexPair(table, MEASUREMENT), nullptr);
    for (qsizetype i = 0; !edge && i < joinedTables.size(); ++i)
        edge = graph.value(JoinGraphVertexPair(table, joinedTables.at(i)), nullptr);
    if (!edge) {
        if (reportFailure) {
            assert2(false, QUARN_QUERY_FILE, JOIN_TABLE_FAILED_LINE,
                    QStringLiteral("Couldn't find a way to join '%1' to joined tables: ['%2']"), table,
                    joinedTables.join(QStringLiteral("', '")));
        }
        return false;
    }
    const QStringList connected = edge->addJoin(query);
    for (const QString& joined : connected)
        markJoined(joined);
    return true;
}

void DBIF_QuarnJoinAlgorithm::markJoined(const QString& table) {
    pendingTables.remove(table);
    joinedTables << table;
}

QString DBIF_QuarnJoinAlgorithm::startTable() const {
    if (pendingTables.contains(MEASUREMENT))
        return MEASUREMENT;
    QSet<QString> anchors;
    const JoinGraph& graph = joinGraph();
    for (auto it = graph.cbegin(); it != graph.cend(); ++it)
        anchors.insert(it.key().to);
    const QStringList candidates = sorted(pendingTables);
    for (const QString& table : candidates) {
        if (anchors.contains(table))
            return table;
    }
    return candidates.first();
}
