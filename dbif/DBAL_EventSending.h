// DBAL_EventSending: a typed event that keeps its listeners under ids 0, 1, 2, ... and calls them in id
// order; one definition for every arity, named DBAL_EventSending1Param .. DBAL_EventSending4Params.
// The sender owns its listeners (deleted with it) but not the objects they call. It is not copyable,
// since two senders must never own the same listeners; it may be moved. No locking.
#ifndef DBAL_EVENTSENDING_H
#define DBAL_EVENTSENDING_H

#include <map>
#include <memory>

#include "dbif/DBAL_Notifier.h"
#include "dbif/DBAL_NotifyingMethod.h"

template <class... Ps>
class DBAL_EventSending {
public:
    using Notifier = DBAL_Notifier<Ps...>;
    template <class Obj>
    using NotifyingMethod = DBAL_NotifyingMethod<Obj, Ps...>;

    DBAL_EventSending() = default;
    DBAL_EventSending(const DBAL_EventSending&) = delete;
    DBAL_EventSending& operator=(const DBAL_EventSending&) = delete;
    DBAL_EventSending(DBAL_EventSending&&) = default;
    DBAL_EventSending& operator=(DBAL_EventSending&&) = default;

    // Deletes the listeners in ascending id order, as registered; destroying the map would leave the
    // order to the library.
    ~DBAL_EventSending() {
        while (!listeners.empty())
            listeners.erase(listeners.begin());
    }

    // Registers object->method unless this exact pair is registered already; returns its id either way.
    // Obj is taken from the method, so an engine subclass registers its base's handler without a cast.
    template <class Obj>
    int addListener(typename NotifyingMethod<Obj>::Object* object, void (Obj::*method)(Ps...)) {
        const int existing = idFor<Obj>(object, method);
        if (existing >= 0)
            return existing;
        listeners.emplace(nextId, std::make_unique<NotifyingMethod<Obj>>(object, method));
        return nextId++;
    }

    // The id of object->method, or -1. Pointers to a virtual member compare equal when they name the same
    // virtual function, which is how every compiler the library is built with treats them.
    template <class Obj>
    int idFor(typename NotifyingMethod<Obj>::Object* object, void (Obj::*method)(Ps...)) const {
        for (const auto& [id, listener] : listeners) {
            const auto* candidate = dynamic_cast<const NotifyingMethod<Obj>*>(listener.get());
            if (candidate && candidate->getObject() == object && candidate->getMethod() == method)
                return id;
        }
        return -1;
    }

    // Calls every listener in ascending id order. Each call gets its own copies of by-value parameters;
    // a reference parameter is the caller's object for all of them. An exception from a listener leaves
    // at once and the remaining listeners are not called. Without listeners the event is lost.
    void notify(Ps... parameters) {
        for (const auto& entry : listeners)
            entry.second->notify(parameters...);
    }

private:
    std::map<int, std::unique_ptr<Notifier>> listeners;
    int nextId = 0;
};

template <class P1>
using DBAL_EventSending1Param = DBAL_EventSending<P1>;
template <class P1, class P2>
using DBAL_EventSending2Params = DBAL_EventSending<P1, P2>;
template <class P1, class P2, class P3>
using DBAL_EventSending3Params = DBAL_EventSending<P1, P2, P3>;
template <class P1, class P2, class P3, class P4>
using DBAL_EventSending4Params = DBAL_EventSending<P1, P2, P3, P4>;

#endif
