// The value half of the package host: DBIF_DataType.h alone gives the four value types.
#include <dbif/DBIF_DataType.h>

bool valueTypesWork() {
    DBIF_ComplexNumber number;
    number.set(1, 2);
    const DBIF_ComplexMatrix matrix(1, 1);
    return DBIF_Double(1.5).toString() == "1.5" && DBIF_Text(QStringLiteral("t")).toString() == "t" &&
           number.toString() == "1:2" && matrix.toString() == "1|1|0:0" && DOUBLE_DATATYPE == "DB";
}
