// DBIF_NullQueryJoinAlgorithm: the join algorithm that adds nothing, installed in every new query
// until its owner sets a real one. Stateless, so one process-wide instance
// (DBIF_Query::SharedData::getNullQueryJoinAlgorithm) serves every query.
#ifndef DBIF_NULLQUERYJOINALGORITHM_H
#define DBIF_NULLQUERYJOINALGORITHM_H

#include "dbif/DBIF_QueryJoinAlgorithm.h"

class DBIF_EXPORT DBIF_NullQueryJoinAlgorithm : public DBIF_QueryJoinAlgorithm {
public:
    DBIF_NullQueryJoinAlgorithm() = default;
    ~DBIF_NullQueryJoinAlgorithm() override;

    void computeJoins(DBIF_Query& query) override;
};

#endif
