// DBAL_Notifier: the abstract listener of a typed event, one definition for every arity; the names
// DBAL_NotifierWith1Param .. DBAL_NotifierWith4Params are aliases of it, so they are the same types.
// Parameters arrive as declared: by value unless the event's parameter type is itself a reference.
// Listeners are owned by the DBAL_EventSending they are registered with and deleted through this base.
#ifndef DBAL_NOTIFIER_H
#define DBAL_NOTIFIER_H

template <class... Ps>
class DBAL_Notifier {
public:
    DBAL_Notifier() = default;
    virtual ~DBAL_Notifier() = default;

    virtual void notify(Ps... parameters) = 0;
};

template <class P1>
using DBAL_NotifierWith1Param = DBAL_Notifier<P1>;
template <class P1, class P2>
using DBAL_NotifierWith2Params = DBAL_Notifier<P1, P2>;
template <class P1, class P2, class P3>
using DBAL_NotifierWith3Params = DBAL_Notifier<P1, P2, P3>;
template <class P1, class P2, class P3, class P4>
using DBAL_NotifierWith4Params = DBAL_Notifier<P1, P2, P3, P4>;

#endif
