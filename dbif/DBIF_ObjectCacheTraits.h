// DBIF_ObjectCacheTraits: what the object cache needs to know about a kind beyond its interface:
// whether its whole table is read on first use, the SELECT that reads its rows (columns in the order
// the kind's row constructor reads them), and whether a freshly loaded object brings in its
// subordinates. Each kind specialises the template next to its class; the traits hold no state.
#ifndef DBIF_OBJECTCACHETRAITS_H
#define DBIF_OBJECTCACHETRAITS_H

#include <QString>

template <typename T>
struct DBIF_ObjectCacheTraits;  // specialised per kind

// Defaults that most kinds share; a specialisation derives from it and states the rest.
struct DBIF_ObjectCacheTraitsBase {
    // Only kinds whose objects own links to other rows load them when they enter the cache.
    static bool loadSubordinatesOnLoad() { return false; }
};

#endif
