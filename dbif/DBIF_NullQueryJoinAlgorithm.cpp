// DBIF_NullQueryJoinAlgorithm.cpp: a query with this algorithm joins only what its caller added.
#include "dbif/DBIF_NullQueryJoinAlgorithm.h"

DBIF_NullQueryJoinAlgorithm::~DBIF_NullQueryJoinAlgorithm() = default;

void DBIF_NullQueryJoinAlgorithm::computeJoins(DBIF_Query&) {}
