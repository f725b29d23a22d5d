// DBAL_NotifyingMethod: the listener that calls a member function on an object, one definition for
// every arity; DBAL_NotifyingMethodWith1Param .. DBAL_NotifyingMethodWith4Params are aliases of it.
// The target object is not owned and must outlive the listener (storage engines outlive every entity).
// A virtual member function is dispatched through the object, so a subclass override is reached.
#ifndef DBAL_NOTIFYINGMETHOD_H
#define DBAL_NOTIFYINGMETHOD_H

#include <utility>

#include "dbif/DBAL_Notifier.h"

template <class Obj, class... Ps>
class DBAL_NotifyingMethod : public DBAL_Notifier<Ps...> {
public:
    using Object = Obj;
    // A const in the event's parameter types (const QString) is not part of a function type, so a
    // handler declared with plain QString parameters has exactly this type.
    using Method = void (Obj::*)(Ps...);

    DBAL_NotifyingMethod(Obj* object, Method method) : object(object), method(method) {}

    // Each parameter reaches this call once, so by-value copies can be handed on without another copy;
    // reference parameters stay references.
    void notify(Ps... parameters) override { (object->*method)(std::forward<Ps>(parameters)...); }

    Obj* getObject() const { return object; }
    Method getMethod() const { return method; }

private:
    Obj* object;
    Method method;
};

template <class Obj, class P1>
using DBAL_NotifyingMethodWith1Param = DBAL_NotifyingMethod<Obj, P1>;
template <class Obj, class P1, class P2>
using DBAL_NotifyingMethodWith2Params = DBAL_NotifyingMethod<Obj, P1, P2>;
template <class Obj, class P1, class P2, class P3>
using DBAL_NotifyingMethodWith3Params = DBAL_NotifyingMethod<Obj, P1, P2, P3>;
template <class Obj, class P1, class P2, class P3, class P4>
using DBAL_NotifyingMethodWith4Params = DBAL_NotifyingMethod<Obj, P1, P2, P3, P4>;

#endif
