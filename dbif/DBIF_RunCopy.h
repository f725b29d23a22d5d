// DBIF_RunCopy: copies runs (catalog entries) from one database into another with everything they own
// and refer to: the entry's data, parent run, measurement conditions with their routines, devices,
// measurements with their dies, setups, all data rows and the links between them. Everything is
// written through the entities' own saves on the target, so ids are the target's, column catalog
// rows are matched by key (and made where missing), dies and routines are reused by key, and values
// are bound, never printed: every double arrives bit for bit.
//
// A run is recognised on the target by its application, application version, run type, start time
// (to the second, as stored) and user: a run found that way is not copied again. A target run with
// the first four and another user is refused (the library takes those four for one run).
// Each run is one transaction on the target: the schema it needs (sparse columns, multi-table
// tables) is made first, because a schema change commits on MySQL; then every row of the run is
// written in one unit of work, which a failure (or a progress callback that throws) rolls back
// whole, leaving the target's caches without the run's objects, so that the next copy starts afresh.
// Inside a host transaction on the target a run is a savepoint of it instead, stored when the host
// commits (and on MySQL a sparse column the run adds commits the host's transaction, as for any save).
// After a run's saves, the latest-measurement and latest-setup records of the combinations it
// touched point at the measurement (setup) of the run that started last: a run copied after a later
// one does not take "latest" from it. Within one run the copy saves in the source's id order.
// A run whose measurements use a device or condition of another run, or whose setups belong to
// another run's measurement, is refused. Modification times are those of the copy.
// One thread; both connections are used from it, as every connection is.
#ifndef DBIF_RUNCOPY_H
#define DBIF_RUNCOPY_H

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

#include "dbif/DBIF_CatalogEntry.h"
#include "dbif/DBIF_Connection.h"
#include "dbif/DBIF_Export.h"
#include "dbif/DBIF_StorageEngineType.h"

class DBIF_EXPORT DBIF_RunCopy {
public:
    // Where a copy stands, handed to the progress callback after each measurement a run saves (and
    // once when the copy ends). Rows are measurement data rows.
    struct Progress {
        int runsDone = 0;  // runs written completely
        int runs = 0;      // runs to write
        qint64 runRowsDone = 0;
        qint64 runRows = 0;  // of the run being written
        qint64 rowsDone = 0;
        qint64 rows = 0;  // of all runs to write
    };
    // May throw: the run being written is then rolled back and the exception passes to copy()'s caller.
    using ProgressCallback = std::function<void(const Progress&)>;

    // What copy() would do, or did.
    struct Summary {
        QList<DBIF_CatalogEntry> copied;   // source runs written to the target (parents included)
        QList<DBIF_CatalogEntry> present;  // source runs the target holds already
        QStringList refused;               // one line per run that cannot be copied, saying why
        int measurements = 0;              // of the copied runs
        qint64 rows = 0;                   // measurement data rows of the copied runs
        QList<qint64> runRows;             // those of each copied run, in the order of `copied`
    };

    // REQUIRES: two different connections, both open.
    DBIF_RunCopy(const DBIF_Connection& source, const DBIF_Connection& target);

    // The storage engine of the copied entities: DBIF_SPARSE_TABLE_STORAGE or DBIF_MULTI_TABLE_STORAGE
    // for all of them, anything else (the default, 0) keeps each entity's own.
    void setStorageEngine(int type) { engine = type; }
    void setProgressCallback(const ProgressCallback& callback) { progress = callback; }

    // The id of the target's run that the source run is, or -1. Throws DBIF_Exception when the look-up
    // fails; *conflict (when given) is set when the target holds the run under another user.
    int findOnTarget(const DBIF_CatalogEntry& run, bool* conflict = nullptr) const;
    // What copy() would write, without writing anything: the runs to copy (parents they need
    // included), those present and those refused, with measurement and row counts.
    Summary plan(const QList<DBIF_CatalogEntry>& runs);
    // Copies each run not on the target yet, a run (with a missing parent first) per transaction.
    // Throws DBIF_Exception when a statement fails; the runs copied before stay copied.
    Summary copy(const QList<DBIF_CatalogEntry>& runs);

private:
    class RunWriter;

    // Adds the run (after its parent) to the plan unless present, refused or planned already.
    // Returns whether the run will be on the target (present, or planned for copying).
    bool planRun(const DBIF_CatalogEntry& run, Summary& summary, QHash<int, bool>& planned);
    DBIF_StorageEngineType engineFor(DBIF_StorageEngineType stored) const;

    DBIF_Connection source;
    DBIF_Connection target;
    // The runs the last plan gathered for copying, by source id, so that copy() reads them once.
    QHash<int, std::shared_ptr<RunWriter>> gathered;
    int engine = 0;
    ProgressCallback progress;
};

#endif
