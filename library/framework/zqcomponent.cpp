#include "zqcomponent.h"

#include <typeinfo>

#include <cxxabi.h>

Exception::~Exception() = default;

TPersistent::~TPersistent() = default;

std::string TPersistent::ClassName() const
{
    int status = 0;
    const char* mangled = typeid(*this).name();
    char* demangled = abi::__cxa_demangle(mangled, nullptr, nullptr, &status);
    std::string name = (status == 0 && demangled) ? demangled : mangled;
    std::free(demangled);
    return name;
}

void TPersistent::Assign(const TPersistent* Source)
{
    if (!Source)
        throw EConvertErrorAssign("Cannot assign a nil to a " + ClassName());
    Source->AssignTo(this);
}

void TPersistent::AssignTo(TPersistent* Dest) const
{
    throw EConvertErrorAssign(
        "Cannot assign a " + ClassName() + " to a " + (Dest ? Dest->ClassName() : "nil"));
}

TStrings::~TStrings() = default;

int TStringList::AddObject(const std::string& S, TPersistent* Object)
{
    items_.emplace_back(S, Object);
    return Count() - 1;
}

TComponent::TComponent(QObject* AOwner)
    : QObject(AOwner)
{
}

TComponent::~TComponent()
{
    Destroying();
}

std::string TComponent::ClassName() const
{
    return metaObject()->className();
}

void TComponent::FreeNotification(QObject* Other)
{
    if (!Other || Other == this)
        return;
    if (auto* c = qobject_cast<TComponent*>(Other)) {
        freeNotifies_.insert(c);
        c->freeNotifies_.insert(this);
        return;
    }
    if (watched_.contains(Other))
        return;
    watched_.insert(Other);
    // Only the pointer is used: the object is half destroyed by then.
    connect(Other, &QObject::destroyed, this, [this](QObject* gone) {
        watched_.remove(gone);
        Notification(gone, opRemove);
    });
}

void TComponent::RemoveFreeNotification(QObject* Other)
{
    if (auto* c = qobject_cast<TComponent*>(Other)) {
        freeNotifies_.remove(c);
        c->freeNotifies_.remove(this);
    }
}

void TComponent::Loaded()
{
    state_ &= ~(csLoading | csReading);
}

void TComponent::Notification(QObject*, TOperation) { }

void TComponent::NotifyRemoved(QObject* Gone)
{
    freeNotifies_.remove(static_cast<TComponent*>(Gone));
    Notification(Gone, opRemove);
}

void TComponent::Destroying()
{
    if (state_ & csDestroying)
        return;
    state_ |= csDestroying;
    // Those that asked, and the components sharing this one's owner, as an
    // owner passes the removal on to everything it owns.
    QSet<TComponent*> targets = freeNotifies_;
    if (QObject* owner = parent()) {
        for (QObject* sibling : owner->children())
            if (auto* c = qobject_cast<TComponent*>(sibling); c && c != this && !c->IsDestroying())
                targets.insert(c);
    }
    freeNotifies_.clear();
    for (TComponent* c : targets) {
        c->NotifyRemoved(this);
    }
}

bool TComponent::SetEventByName(const std::string& Name, const std::any& Handler)
{
    for (const EventSlot& e : events_)
        if (e.name == Name)
            return e.set(Handler);
    return false;
}

bool TComponent::EventIs(const std::string& Name, const std::any& Handler) const
{
    for (const EventSlot& e : events_)
        if (e.name == Name)
            return e.is(Handler);
    return false;
}

std::vector<std::string> TComponent::EventNames() const
{
    std::vector<std::string> names;
    for (const EventSlot& e : events_)
        names.push_back(e.name);
    return names;
}
