// DBIF_QuarnJoinAlgorithm: joins a query's tables through one process-wide join graph whose
// vertices are table names and whose edges know the equations joining two tables, directly or
// through a link table. The graph is built on first use from the fixed schema and grows when the
// multi-table storage registers a further data table of an entity kind. Each table is attached by
// one edge to an already joined one; measurement is preferred as the anchor and pulled in as a hub
// when a table cannot be attached otherwise. The graph is unguarded: one thread at a time.
#ifndef DBIF_QUARNJOINALGORITHM_H
#define DBIF_QUARNJOINALGORITHM_H

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

#include "dbif/DBIF_Export.h"
#include "dbif/DBIF_QueryJoinAlgorithm.h"
#include "dbif/DBIF_UniqueStringList.h"

class DBIF_Query;

class DBIF_EXPORT DBIF_QuarnJoinAlgorithm : public DBIF_QueryJoinAlgorithm {
public:
    // A key of the graph. In lookups, from is the table to be joined and to an already joined one.
    // The hash does not depend on the order of the two names; equality does.
    class DBIF_EXPORT JoinGraphVertexPair {
    public:
        JoinGraphVertexPair(const QString& from, const QString& to);
        JoinGraphVertexPair(const JoinGraphVertexPair&) = default;
        JoinGraphVertexPair& operator=(const JoinGraphVertexPair&) = default;
        virtual ~JoinGraphVertexPair();

        bool operator==(const JoinGraphVertexPair& other) const {
            return from == other.from && to == other.to;
        }

        QString from;
        QString to;
        size_t hash;

    protected:
        virtual size_t computeHash() const;
    };

    // Joins the two tables by firstTable.firstColumn = secondTable.secondColumn.
    class DBIF_EXPORT JoinGraphEdge {
    public:
        JoinGraphEdge(const QString& firstTable, const QString& firstColumn, const QString& secondTable,
                      const QString& secondColumn);
        virtual ~JoinGraphEdge();

        // Adds the edge's equations (and tables it needs besides its two ends) to the query; returns
        // every table the edge connects.
        virtual QStringList addJoin(DBIF_Query& query) const;
        // "first.column => second.column"
        virtual QString dump() const;

        QString firstTable;
        QString firstColumn;
        QString secondTable;
        QString secondColumn;
    };

    // Joins the two tables through a link table. With flip the second equation reads
    // through.column = second.column, otherwise second.column = through.column.
    class DBIF_EXPORT JoinGraphThrough : public JoinGraphEdge {
    public:
        JoinGraphThrough(const QString& firstTable, const QString& firstColumn, const QString& secondTable,
                         const QString& secondColumn, const QString& throughTable,
                         const QString& throughColumnToFirst, const QString& throughColumnToSecond,
                         bool flip);
        ~JoinGraphThrough() override;

        QStringList addJoin(DBIF_Query& query) const override;
        // "first.column => through.toFirst|toSecond => second.column"
        QString dump() const override;

        QString throughTable;
        QString throughColumnToFirst;
        QString throughColumnToSecond;
        bool flip;
    };

    DBIF_QuarnJoinAlgorithm() = default;
    ~DBIF_QuarnJoinAlgorithm() override;

    // Makes a further data table of an entity kind joinable to the kind's master table (and, for
    // setup data, to measurement through measurement_setup). The base name is the kind's base data
    // table ("measurement_data", ...); another base name adds nothing. Registering a table again
    // replaces its edges.
    static void addDynamicJoinData(const QString& baseDataTableName, const QString& dataTableName);
    // "Join Graph: \n" and one line per key of the graph (an edge stored under two keys twice).
    static QString dumpGraph();
    // Frees every edge and empties the graph; the next use rebuilds only the static edges.
    static void deleteJoinGraph();

private:
    using JoinGraph = QHash<JoinGraphVertexPair, JoinGraphEdge*>;

    // Called through DBIF_QueryJoinAlgorithm by the query's preprocessing. A table that cannot be
    // attached is reported through the assertion functions; the joins found so far stay.
    void computeJoins(DBIF_Query& query) override;

    // The process-wide graph, created empty on first use and never freed.
    static JoinGraph& joinGraph();
    static void createStaticJoinGraph();
    // Stores the edge under (a, b) and (b, a).
    static void insertEdges(const QString& a, const QString& b, JoinGraphEdge* edge);
    // Stores the edge under one pair; an edge it replaces is freed once no key holds it.
    static void insertGraphEdge(const JoinGraphVertexPair& pair, JoinGraphEdge* edge);

    bool attemptJoin(DBIF_Query& query);
    bool joinTable(DBIF_Query& query, const QString& table, bool reportFailure);
    void markJoined(const QString& table);
    // measurement when pending; otherwise the first pending table (in name order) that some edge
    // can attach another table to, so that a query never starts from a table nothing joins onto.
    QString startTable() const;

    QSet<QString> pendingTables;
    // A set in the order tables were joined, so that anchors are tried in a reproducible order.
    DBIF_UniqueStringList joinedTables;
};

// The pair's stored hash.
DBIF_EXPORT size_t qHash(const DBIF_QuarnJoinAlgorithm::JoinGraphVertexPair& pair, size_t seed = 0);

#endif
