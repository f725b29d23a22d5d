// DBIF_QueryJoinAlgorithm: the pluggable step of a query that adds the join equations connecting
// the query's tables (DBIF_Query::preprocessQuery calls it before every rendering). The query does
// not own its algorithm: the owner (usually the concrete query class) keeps it alive at least as
// long as the query uses it. One thread at a time.
#ifndef DBIF_QUERYJOINALGORITHM_H
#define DBIF_QUERYJOINALGORITHM_H

#include "dbif/DBIF_Export.h"

class DBIF_Query;

class DBIF_EXPORT DBIF_QueryJoinAlgorithm {
public:
    virtual ~DBIF_QueryJoinAlgorithm();

    // Adds join equations (and, where a join runs through a link table, that table) to the query.
    virtual void computeJoins(DBIF_Query& query) = 0;

protected:
    DBIF_QueryJoinAlgorithm() = default;
    DBIF_QueryJoinAlgorithm(const DBIF_QueryJoinAlgorithm&) = default;
    DBIF_QueryJoinAlgorithm& operator=(const DBIF_QueryJoinAlgorithm&) = default;
};

#endif
