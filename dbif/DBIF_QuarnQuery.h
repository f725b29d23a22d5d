// DBIF_QuarnQuery: the library's concrete query. It joins its tables through its own
// DBIF_QuarnJoinAlgorithm, honours the latest-only switch by pulling in latest_measurement (or
// latest_setup), and expands each kind's base data table (measurement_data, ...) into the physical
// data tables of the multi-table layout that hold the requested columns: one SELECT per combination,
// joined by UNION (distinct) or UNION ALL, with one ORDER BY and one LIMIT for the whole statement.
// A value handle like DBIF_Query. Every DBIF_QuarnQuery handle of a record co-owns the join algorithm
// installed in it, so copies may outlive the original. One thread at a time.
#ifndef DBIF_QUARNQUERY_H
#define DBIF_QUARNQUERY_H

#include <QString>
#include <QStringList>
#include <memory>

#include "dbif/DBIF_Connection.h"
#include "dbif/DBIF_Export.h"
#include "dbif/DBIF_Query.h"
#include "dbif/DBIF_StorageEngineType.h"
#include "dbif/DBIF_UniqueStringList.h"

class DBIF_QuarnJoinAlgorithm;

class DBIF_EXPORT DBIF_QuarnQuery : public DBIF_Query {
public:
    // A handle without record (and without join algorithm): only isNull() and assignment may be used.
    DBIF_QuarnQuery();
    // A new record with the graph-based join algorithm installed.
    explicit DBIF_QuarnQuery(const DBIF_Connection& connection);
    // Share the record and the algorithm.
    DBIF_QuarnQuery(const DBIF_QuarnQuery& other);
    DBIF_QuarnQuery& operator=(const DBIF_QuarnQuery& other);
    ~DBIF_QuarnQuery() override;

    // The statement with every base data table replaced by each physical table that holds the
    // requested columns. Empty text when a kind's requested columns are held by no table (running
    // it then fails in the connection). Leaves the limit as it found it. Reads the multi-table
    // registries, so it may run their refresh statements and throw DBIF_Exception.
    QString generateSql(bool withOrder) override;

    // The statement that reads the given columns of one entity from table (a base data table or a
    // physical one) in column order: rows where "<kindPrefix>_id" equals id, sorted by this query's
    // data orders. The engine type does not change the statement.
    QString generateDataSql(DBIF_StorageEngineType engineType, const QString& kindPrefix,
                            const QString& table, const QStringList& columns, int id) const;

    // True when every listed column (none: true) is a sparse-table column of column kind C. Stops at
    // the first that is not; a key not in C's catalog is reported by the lookup and counts as not.
    template <typename C>
    static bool sparseTableContainsColumns(const DBIF_Connection& connection,
                                           const DBIF_UniqueStringList& columns) {
        // A column the catalog does not know yet is in no table: no rows, and no misuse to report.
        for (const QString& column : columns) {
            if (!C::hasColumn(connection, column) || !C::isSparseTableColumn(connection, column))
                return false;
        }
        return true;
    }

protected:
    // Collects the tables, adds latest_setup or latest_measurement (with its master) when latest only
    // is set, then runs the installed join algorithm.
    void preprocessQuery() override;
    void markAbstract() override {}

private:
    // The physical data tables of entity kind E (column kind C) that the statement must read, the
    // base table first and the numbered tables in number order.
    template <typename E, typename C>
    QStringList collectRelevantTables() const;

    // Shared by every DBIF_QuarnQuery handle of the record, because the record only points at it.
    std::shared_ptr<DBIF_QuarnJoinAlgorithm> joinAlgorithm;
};

#endif
