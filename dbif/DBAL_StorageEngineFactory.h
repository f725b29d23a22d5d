// DBAL_StorageEngineFactory<E, C>: hands out the one storage engine per entity kind E and engine type,
// creating it on first request and registering its query handler on the kind-wide query event. The
// factory is a process-wide object per kind, created on first use; it owns its engines and deletes them
// when the process ends. Unguarded: engines are requested by one thread at a time.
// Instantiated explicitly in each kind's source file, so that the library and its hosts share one factory.
#ifndef DBAL_STORAGEENGINEFACTORY_H
#define DBAL_STORAGEENGINEFACTORY_H

#include <map>
#include <memory>

#include "dbif/DBAL_MultiTableStorageEngine.h"
#include "dbif/DBAL_SparseTableStorageEngine.h"
#include "dbif/DBAL_StorageEngine.h"
#include "dbif/DBIF_StorageEngineType.h"

template <typename E, typename C>
class DBAL_StorageEngineFactory {
public:
    using Engine = DBAL_StorageEngine<E, C>;

    DBAL_StorageEngineFactory() = default;
    DBAL_StorageEngineFactory(const DBAL_StorageEngineFactory&) = delete;
    DBAL_StorageEngineFactory& operator=(const DBAL_StorageEngineFactory&) = delete;
    ~DBAL_StorageEngineFactory() = default;

    // The kind's engine of that type: sparse table for 1, multi-table for every other type. The
    // factory keeps ownership.
    static Engine* get(DBIF_StorageEngineType type);
    // get(type), then that engine's attach(entity).
    static void attach(E entity, DBIF_StorageEngineType type);

private:
    static DBAL_StorageEngineFactory& instance();

    std::map<DBIF_StorageEngineType, std::unique_ptr<Engine>> engines;
};

// Out of line, so that only the explicit instantiation holds the process-wide factory.
template <typename E, typename C>
DBAL_StorageEngineFactory<E, C>& DBAL_StorageEngineFactory<E, C>::instance() {
    static DBAL_StorageEngineFactory factory;
    return factory;
}

template <typename E, typename C>
DBAL_StorageEngine<E, C>* DBAL_StorageEngineFactory<E, C>::get(DBIF_StorageEngineType type) {
    const DBIF_StorageEngineType made =
        type == DBIF_SPARSE_TABLE_STORAGE ? DBIF_SPARSE_TABLE_STORAGE : DBIF_MULTI_TABLE_STORAGE;
    std::unique_ptr<Engine>& engine = instance().engines[made];
    if (!engine) {
        if (made == DBIF_SPARSE_TABLE_STORAGE)
            engine = std::make_unique<DBAL_SparseTableStorageEngine<E, C>>();
        else
            engine = std::make_unique<DBAL_MultiTableStorageEngine<E, C>>();
        E::addQueryEventListener(engine.get(), &Engine::queryHandler);
    }
    return engine.get();
}

template <typename E, typename C>
void DBAL_StorageEngineFactory<E, C>::attach(E entity, DBIF_StorageEngineType type) {
    get(type)->attach(entity);
}

#endif
