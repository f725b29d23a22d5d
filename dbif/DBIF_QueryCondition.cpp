// DBIF_QueryCondition: the out-of-line destructor anchors the class's virtual table in the library.
#include "dbif/DBIF_QueryCondition.h"

DBIF_QueryCondition::~DBIF_QueryCondition() = default;
