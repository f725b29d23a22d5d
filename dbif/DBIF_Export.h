// DBIF_Export.h: symbol visibility of the library's host-facing interface.
// The library is built as a shared object (a DLL on Windows); every exported class, function and
// variable carries DBIF_EXPORT so that the same sources link on both platforms.
#ifndef DBIF_EXPORT_H
#define DBIF_EXPORT_H

#if defined(_WIN32)
#if defined(DBIF_BUILDING_LIBRARY)
#define DBIF_EXPORT __declspec(dllexport)
#else
#define DBIF_EXPORT __declspec(dllimport)
#endif
#else
#define DBIF_EXPORT __attribute__((visibility("default")))
#endif

#endif
