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

// A listener target that writes every call it gets into a shared log, tagged with its name.
class Recorder {
public:
    Recorder(const QString& name, QStringList* log) : name(name), log(log) {}
    virtual ~Recorder() = default;

    void first(int value) { record(QString("first(%1)").arg(value)); }
    void second(int value) { record(QString("second(%1)").arg(value)); }
    void fail(int) { throw std::runtime_error("listener failed"); }
    void changeOwnCopy(QString text) { record(text.append('!')); }
    void fillSlot(QString* query, QVariant& slot) { slot = slot.toString() + name + ":" + *query + ";"; }
    // Storage engines register their virtual handlers through the base class.
    virtual void two(int id, bool flag) { record(QString("two(%1,%2)").arg(id).arg(flag)); }
    void three(int id, QString column, QString type) {
        record(QString("three(%1,%2,%3)").arg(id).arg(column, type));
    }
    void four(int id, QString column, QString type, bool input) {
        record(QString("four(%1,%2,%3,%4)").arg(id).arg(column, type).arg(input));
    }

protected:
    void record(const QString& text) { log->append(name + ":" + text); }

private:
    QString name;
    QStringList* log;
};

class Override : public Recorder {
public:
    using Recorder::Recorder;
    void two(int id, bool) override { record(QString("override(%1)").arg(id)); }
};

// A target whose listeners log their own deletion, so the test sees what the sender deletes.
struct Counted {
    QString name;
    void handle(int) {}
};
QStringList destroyedListeners;

std::string joined(const QStringList& list) {
    return list.join(" | ").toStdString();
}

}  // namespace

template <>
class DBAL_NotifyingMethod<Counted, int> : public DBAL_Notifier<int> {
public:
    using Object = Counted;
    DBAL_NotifyingMethod(Counted* object, void (Counted::*method)(int)) : object(object), method(method) {}
    ~DBAL_NotifyingMethod() override { destroyedListeners.append(object->name); }
    void notify(int value) override { (object->*method)(value); }
    Counted* getObject() const { return object; }
    void (Counted::*getMethod() const)(int) { return method; }

private:
    Counted* object;
    void (Counted::*method)(int);
};

// A copy would delete the listeners twice.
static_assert(!std::is_copy_constructible_v<DBAL_EventSending1Param<int>>);

TEST(EventSending, IdsAreGivenInOrderAndAPairIsRegisteredOnce) {
    QStringList log;
    Recorder a("a", &log), b("b", &log);
    DBAL_EventSending1Param<int> event;
    event.notify(1);  // no listener: nothing happens
    EXPECT_EQ(event.idFor(&a, &Recorder::first), -1);
    EXPECT_EQ(event.addListener(&a, &Recorder::first), 0);
    EXPECT_EQ(event.addListener(&b, &Recorder::first), 1);
    EXPECT_EQ(event.addListener(&a, &Recorder::first), 0);
    EXPECT_EQ(event.addListener(&a, &Recorder::second), 2);
    EXPECT_EQ(event.idFor(&b, &Recorder::first), 1);
    EXPECT_EQ(event.idFor(&b, &Recorder::second), -1);
    event.notify(7);
    EXPECT_EQ(joined(log), joined({"a:first(7)", "b:first(7)", "a:second(7)"}));

    // A failing listener ends the notification.
    event.addListener(&b, &Recorder::fail);
    event.addListener(&b, &Recorder::second);
    log.clear();
    EXPECT_THROW(event.notify(2), std::runtime_error);
    EXPECT_EQ(joined(log), joined({"a:first(2)", "b:first(2)", "a:second(2)"}));
}

TEST(EventSending, AReferenceParameterIsSharedAndByValueParametersAreCopiedPerListener) {
    QStringList log;
    Recorder a("a", &log), b("b", &log);
    DBAL_EventSending2Params<QString*, QVariant&> queryEvent;
    queryEvent.addListener(&a, &Recorder::fillSlot);
    queryEvent.addListener(&b, &Recorder::fillSlot);
    QString query = "q";
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

TEST(EventSending, EveryArityDeliversItsArgumentsToTheOverride) {
    QStringList log;
    Override r("r", &log);
    DBAL_EventSending2Params<int, bool> save;
    DBAL_EventSending3Params<int, const QString, const QString> addColumn;
    DBAL_EventSending4Params<int, const QString, const QString, bool> addSetupColumn;
    save.addListener(&r, &Recorder::two);
    EXPECT_EQ(save.idFor(&r, &Recorder::two), 0);
    addColumn.addListener(&r, &Recorder::three);
    addSetupColumn.addListener(&r, &Recorder::four);
    save.notify(2, true);
    addColumn.notify(3, "Vds", "DB");
    addSetupColumn.notify(4, "Vds", "TX", false);
    EXPECT_EQ(joined(log), joined({"r:override(2)", "r:three(3,Vds,DB)", "r:four(4,Vds,TX,0)"}));
}

TEST(EventSending, ListenersAreDeletedOnceWithTheirSender) {
    Counted x{"x"}, y{"y"}, z{"z"};
    destroyedListeners.clear();
    {
        DBAL_EventSending1Param<int> event;
        event.addListener(&x, &Counted::handle);
        event.addListener(&y, &Counted::handle);
        event.addListener(&x, &Counted::handle);
        event.addListener(&z, &Counted::handle);
        DBAL_EventSending1Param<int> moved(std::move(event));
        EXPECT_EQ(moved.idFor(&z, &Counted::handle), 2);
        EXPECT_TRUE(destroyedListeners.isEmpty());
    }
    EXPECT_EQ(joined(destroyedListeners), joined({"x", "y", "z"}));
}
