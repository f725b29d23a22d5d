// Tests of DBAL_EventSending and its listeners: id assignment and de-duplication, call order, how
// parameters reach several listeners, virtual handlers, failure in a listener and listener ownership.
#include <gtest/gtest.h>

#include <QString>
#include <QStringList>
#include <QVariant>
#include <stdexcept>
#include <string>
#include <type_traits>

#include "dbif/DBAL_EventSending.h"

namespace {

// Stands in for an entity handle, passed by value like one.
struct Entity {
    int id;
};

// Stands in for the query the kind-wide query event carries.
struct Query {
    QString text;
};

// A listener target that writes every call it gets into a shared log, tagged with its name.
class Recorder {
public:
    Recorder(const QString& name, QStringList* log) : name(name), log(log) {}

    void first(int value) { record(QString("first(%1)").arg(value)); }
    void second(int value) { record(QString("second(%1)").arg(value)); }
    void fail(int) { throw std::runtime_error("listener failed"); }
    void changeOwnCopy(QString text) {
        text.append('!');
        record(text);
    }
    void fillSlot(Query* query, QVariant& slot) { slot = slot.toString() + name + ":" + query->text + ";"; }

    void one(Entity entity) { record(QString("one(%1)").arg(entity.id)); }
    void two(Entity entity, bool flag) {
        record(QString("two(%1,%2)").arg(entity.id).arg(flag ? "true" : "false"));
    }
    void three(Entity entity, QString columnName, QString dataType) {
        record(QString("three(%1,%2,%3)").arg(entity.id).arg(columnName, dataType));
    }
    void four(Entity entity, QString columnName, QString dataType, bool isInput) {
        record(QString("four(%1,%2,%3,%4)")
                   .arg(entity.id)
                   .arg(columnName, dataType)
                   .arg(isInput ? "true" : "false"));
    }

private:
    void record(const QString& text) { log->append(name + ":" + text); }

    QString name;
    QStringList* log;
};

class Engine {
public:
    explicit Engine(QStringList* log) : log(log) {}
    virtual ~Engine() = default;
    virtual void saveHandler(Entity entity, bool) { log->append(QString("base save %1").arg(entity.id)); }
    virtual void loadHandler(Entity entity, bool) { log->append(QString("base load %1").arg(entity.id)); }

protected:
    QStringList* log;
};

class SparseEngine : public Engine {
public:
    using Engine::Engine;
    void saveHandler(Entity entity, bool withSubordinates) override {
        log->append(QString("sparse save %1 %2").arg(entity.id).arg(withSubordinates ? "true" : "false"));
    }
};

// A target whose listeners report their own destruction, so the test sees what the sender deletes.
struct Counted {
    QString name;
    void handle(int) {}
};
QStringList destroyedListeners;

// QStringList prints as raw bytes in a failure report; one std::string reads.
std::string joined(const QStringList& list) {
    return list.join(" | ").toStdString();
}

}  // namespace

// The sender creates its listeners through this type; this one logs the id-order of its deletion.
template <>
class DBAL_NotifyingMethod<Counted, int> : public DBAL_Notifier<int> {
public:
    using Object = Counted;
    using Method = void (Counted::*)(int);
    DBAL_NotifyingMethod(Counted* object, Method method) : object(object), method(method) {}
    ~DBAL_NotifyingMethod() override { destroyedListeners.append(object->name); }
    void notify(int value) override { (object->*method)(value); }
    Counted* getObject() const { return object; }
    Method getMethod() const { return method; }

private:
    Counted* object;
    Method method;
};

static_assert(std::is_base_of_v<DBAL_NotifierWith2Params<Entity, bool>,
                                DBAL_NotifyingMethodWith2Params<Engine, Entity, bool>>);
static_assert(
    std::is_same_v<DBAL_EventSending2Params<Entity, bool>::Notifier, DBAL_NotifierWith2Params<Entity, bool>>);
static_assert(!std::is_copy_constructible_v<DBAL_EventSending1Param<int>>);

TEST(EventSending, IdsAreGivenInOrderAndAPairIsRegisteredOnce) {
    QStringList log;
    Recorder a("a", &log), b("b", &log);
    DBAL_EventSending1Param<int> event;

    EXPECT_EQ(event.idFor(&a, &Recorder::first), -1);
    EXPECT_EQ(event.addListener(&a, &Recorder::first), 0);
    EXPECT_EQ(event.addListener(&b, &Recorder::first), 1);
    EXPECT_EQ(event.addListener(&a, &Recorder::first), 0);
    EXPECT_EQ(event.addListener(&a, &Recorder::second), 2);

    EXPECT_EQ(event.idFor(&a, &Recorder::first), 0);
    EXPECT_EQ(event.idFor(&b, &Recorder::first), 1);
    EXPECT_EQ(event.idFor(&a, &Recorder::second), 2);
    EXPECT_EQ(event.idFor(&b, &Recorder::second), -1);

    event.notify(7);
    EXPECT_EQ(joined(log), joined({"a:first(7)", "b:first(7)", "a:second(7)"}));
}

TEST(EventSending, NotifyWithoutListenersLeavesTheArgumentsAlone) {
    DBAL_EventSending2Params<Query*, QVariant&> event;
    Query query{"q"};
    QVariant slot(42);
    event.notify(&query, slot);
    EXPECT_EQ(slot, QVariant(42));
}

TEST(EventSending, AReferenceParameterIsSharedAndByValueParametersAreCopiedPerListener) {
    QStringList log;
    Recorder a("a", &log), b("b", &log);

    DBAL_EventSending2Params<Query*, QVariant&> queryEvent;
    queryEvent.addListener(&a, &Recorder::fillSlot);
    queryEvent.addListener(&b, &Recorder::fillSlot);
    Query query{"q"};
    QVariant slot;
    queryEvent.notify(&query, slot);
    EXPECT_EQ(slot.toString().toStdString(), "a:q;b:q;");

    // The first listener changes its copy; the second must still receive the text the sender was given.
    DBAL_EventSending1Param<QString> textEvent;
    textEvent.addListener(&a, &Recorder::changeOwnCopy);
    textEvent.addListener(&b, &Recorder::changeOwnCopy);
    QString text = "x";
    textEvent.notify(text);
    EXPECT_EQ(joined(log), joined({"a:x!", "b:x!"}));
    EXPECT_EQ(text.toStdString(), "x");
}

TEST(EventSending, EveryArityDeliversItsArguments) {
    QStringList log;
    Recorder r("r", &log);

    DBAL_EventSending1Param<Entity> load;
    DBAL_EventSending2Params<Entity, bool> save;
    DBAL_EventSending3Params<Entity, const QString, const QString> addColumn;
    DBAL_EventSending4Params<Entity, const QString, const QString, bool> addSetupColumn;
    EXPECT_EQ(load.addListener(&r, &Recorder::one), 0);
    EXPECT_EQ(save.addListener(&r, &Recorder::two), 0);
    EXPECT_EQ(addColumn.addListener(&r, &Recorder::three), 0);
    EXPECT_EQ(addColumn.addListener(&r, &Recorder::three), 0);
    EXPECT_EQ(addSetupColumn.addListener(&r, &Recorder::four), 0);

    load.notify(Entity{1});
    save.notify(Entity{2}, true);
    const QString name = "Vds";
    addColumn.notify(Entity{3}, name, "DB");
    addSetupColumn.notify(Entity{4}, name, "TX", false);
    EXPECT_EQ(joined(log),
              joined({"r:one(1)", "r:two(2,true)", "r:three(3,Vds,DB)", "r:four(4,Vds,TX,false)"}));
}

TEST(EventSending, AVirtualHandlerRegisteredThroughTheBaseReachesTheOverride) {
    QStringList log;
    SparseEngine engine(&log);
    DBAL_EventSending2Params<Entity, bool> event;

    EXPECT_EQ(event.addListener(&engine, &Engine::saveHandler), 0);
    EXPECT_EQ(event.addListener(&engine, &Engine::saveHandler), 0);
    EXPECT_EQ(event.idFor(&engine, &Engine::saveHandler), 0);
    EXPECT_EQ(event.idFor(&engine, &Engine::loadHandler), -1);
    EXPECT_EQ(event.addListener(&engine, &Engine::loadHandler), 1);

    event.notify(Entity{5}, false);
    EXPECT_EQ(joined(log), joined({"sparse save 5 false", "base load 5"}));
}

TEST(EventSending, AFailingListenerEndsTheNotification) {
    QStringList log;
    Recorder a("a", &log), b("b", &log), c("c", &log);
    DBAL_EventSending1Param<int> event;
    event.addListener(&a, &Recorder::first);
    event.addListener(&b, &Recorder::fail);
    event.addListener(&c, &Recorder::first);

    EXPECT_THROW(event.notify(1), std::runtime_error);
    EXPECT_THROW(event.notify(2), std::runtime_error);
    EXPECT_EQ(joined(log), joined({"a:first(1)", "a:first(2)"}));
}

TEST(EventSending, ListenersAreDeletedWithTheirSender) {
    Counted x{"x"}, y{"y"}, z{"z"};
    destroyedListeners.clear();
    {
        DBAL_EventSending1Param<int> event;
        event.addListener(&x, &Counted::handle);
        event.addListener(&y, &Counted::handle);
        event.addListener(&x, &Counted::handle);
        event.addListener(&z, &Counted::handle);
        EXPECT_TRUE(destroyedListeners.isEmpty());

        DBAL_EventSending1Param<int> moved(std::move(event));
        EXPECT_EQ(moved.idFor(&z, &Counted::handle), 2);
        EXPECT_TRUE(destroyedListeners.isEmpty());
    }
    EXPECT_EQ(joined(destroyedListeners), joined({"x", "y", "z"}));
}
