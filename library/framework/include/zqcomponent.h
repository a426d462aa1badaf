#pragma once
// The component mechanism on Qt.
//
// - Owner: a component's owner is its QObject parent, which destroys it.
// - Free notification: a component asks to be told when another object goes
//   away (FreeNotification). For components the notice arrives while the
//   departing one is still whole (its destructor calls Destroying first);
//   for other QObjects (edits, check boxes) it comes from destroyed(). In
//   both cases a link is cleared before it can dangle.
// - Published properties are Q_PROPERTYs, settable by name; a form resource
//   sets them while the component is in the loading state and then calls
//   Loaded.
#include "zqclasses_export.h"
#include "zqevent.h"

#include <QObject>
#include <QSet>

#include <any>
#include <functional>

#include <stdexcept>
#include <string>
#include <vector>

using TObject = QObject;
using TNotifyEvent = TEvent<TObject*>;

// The general exception of the library; its message is what the user sees.
class ZQCLASSES_EXPORT Exception : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
    // Out of line, so the class's vtable and typeinfo live in this library
    // alone instead of in every library that throws or catches it.
    ~Exception() override;
};

// Calling an operation a class does not implement.
class ZQCLASSES_EXPORT EAbstractError : public Exception {
public:
    EAbstractError()
        : Exception("Abstract Error")
    {
    }
};

// Assigning a persistent object from one it cannot take values from.
class ZQCLASSES_EXPORT EConvertErrorAssign : public Exception {
public:
    using Exception::Exception;
};

class ZQCLASSES_EXPORT TPersistent {
public:
    virtual ~TPersistent();
    // Copies the values of Source; the base raises the framework's
    // assignment error ("Cannot assign a X to a Y").
    virtual void Assign(const TPersistent* Source);
    virtual std::string ClassName() const;

protected:
    virtual void AssignTo(TPersistent* Dest) const;
};

// A list of strings with an object attached to each, filled by components
// for device lists.
class ZQCLASSES_EXPORT TStrings {
public:
    virtual ~TStrings();
    virtual void Clear() = 0;
    virtual int AddObject(const std::string& S, TPersistent* Object) = 0;
};

class ZQCLASSES_EXPORT TStringList : public TStrings {
public:
    void Clear() override { items_.clear(); }
    int AddObject(const std::string& S, TPersistent* Object) override;
    int Add(const std::string& S) { return AddObject(S, nullptr); }
    int Count() const { return static_cast<int>(items_.size()); }
    const std::string& Strings(int i) const { return items_.at(i).first; }
    TPersistent* Objects(int i) const { return items_.at(i).second; }

private:
    std::vector<std::pair<std::string, TPersistent*>> items_;
};

enum TOperation { opInsert, opRemove };

enum TComponentStateFlag : unsigned {
    csLoading = 0x01,
    csReading = 0x02,
    csWriting = 0x04,
    csDestroying = 0x08,
    csDesigning = 0x10,
};

class ZQCLASSES_EXPORT TComponent : public QObject {
    Q_OBJECT
public:
    explicit TComponent(QObject* AOwner = nullptr);
    ~TComponent() override;

    QObject* Owner() const { return parent(); }
    std::string Name() const { return objectName().toStdString(); }
    void SetName(const std::string& n) { setObjectName(QString::fromStdString(n)); }
    unsigned ComponentState() const { return state_; }
    bool IsLoading() const { return state_ & csLoading; }
    bool IsDesigning() const { return state_ & csDesigning; }
    bool IsDestroying() const { return state_ & csDestroying; }
    // The class name of the instance, as the meta-object gives it.
    std::string ClassName() const;

    // Asks to be notified (Notification with opRemove) when Other is
    // destroyed. Between components the request is mutual.
    void FreeNotification(QObject* Other);
    void RemoveFreeNotification(QObject* Other);

    // Form loading: BeginLoading puts the component in the loading state,
    // Loaded ends it once every property has been set.
    void BeginLoading() { state_ |= csLoading | csReading; }
    virtual void Loaded();

    // Published events, by name, for form resources: a handler is given as
    // a std::any holding the event's own TEvent type.
    bool SetEventByName(const std::string& Name, const std::any& Handler);
    bool EventIs(const std::string& Name, const std::any& Handler) const;
    std::vector<std::string> EventNames() const;

protected:
    virtual void Notification(QObject* AComponent, TOperation Operation);
    // Called by constructors, base classes first, in declaration order.
    template <class E> void PublishEvent(const char* Name, E* Field)
    {
        events_.push_back({ Name,
            [Field](const std::any& a) {
                const E* e = std::any_cast<E>(&a);
                if (e)
                    *Field = *e;
                return e != nullptr;
            },
            [Field](const std::any& a) {
                const E* e = std::any_cast<E>(&a);
                return e && Field->Assigned() && *Field == *e;
            } });
    }
    // Every destructor starts with this: the components linked to this one
    // drop their links while it is still whole. Runs once.
    void Destroying();

private:
    void NotifyRemoved(QObject* Gone);
    struct EventSlot {
        std::string name;
        std::function<bool(const std::any&)> set;
        std::function<bool(const std::any&)> is;
    };
    std::vector<EventSlot> events_;
    unsigned state_ = 0;
    QSet<TComponent*> freeNotifies_;
    QSet<QObject*> watched_;
};
