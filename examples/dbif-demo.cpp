// dbif-demo: placeholder host program; replaced by the campaign demo.
#include <dbif/DBIF_Connection.h>
int main() { return 0; }
