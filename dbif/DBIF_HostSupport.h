// DBIF_HostSupport: the host application's support layer as the library sees it: environment
// look-up for the schema file. This implementation reads the process environment directly.
// Strings returned by hostGetVariable belong to this layer and are released with hostFreeString.
#ifndef DBIF_HOSTSUPPORT_H
#define DBIF_HOSTSUPPORT_H

#include "dbif/DBIF_Export.h"

// Selects the host's environment (an application name); the process environment serves every name.
DBIF_EXPORT void hostSetEnvironment(const char* applicationName);

// A newly allocated copy of the variable's value, or nullptr when it is not set.
// Release it with hostFreeString.
DBIF_EXPORT char* hostGetVariable(const char* name);

DBIF_EXPORT void hostFreeString(char* value);

#endif
