// DBIF_QueryJoinAlgorithm.cpp: anchors the base class's vtable in the library.
#include "dbif/DBIF_QueryJoinAlgorithm.h"

DBIF_QueryJoinAlgorithm::~DBIF_QueryJoinAlgorithm() = default;
