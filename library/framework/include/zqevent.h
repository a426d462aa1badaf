#pragma once
// Events held as bound callbacks: a function and the object it is called on.
// Two events are equal when both the function and the object are equal, so a
// handler can be found again in a list and removed (notification lists, the
// device box's change handler).
#include <array>
#include <cstring>
#include <functional>
#include <utility>

template <class... Args> class TEvent {
public:
    TEvent() = default;
    TEvent(std::nullptr_t) { }

    // Binds a member function to an object; virtual functions dispatch to
    // the object's actual class.
    template <class C, class R>
    TEvent(C* object, R (C::*method)(Args...))
        : object_(object)
    {
        static_assert(sizeof(method) <= sizeof(code_), "member pointer wider than expected");
        std::memcpy(code_.data(), &method, sizeof(method));
        call_ = [object, method](Args... args) { (object->*method)(std::forward<Args>(args)...); };
    }

    // Binds any callable to an identity object and a tag; events made with
    // the same object and tag compare equal.
    template <class F> static TEvent Bind(const void* object, const void* tag, F&& fn)
    {
        TEvent e;
        e.object_ = object;
        std::memcpy(e.code_.data(), &tag, sizeof(tag));
        e.call_ = std::forward<F>(fn);
        return e;
    }

    explicit operator bool() const { return static_cast<bool>(call_); }
    bool Assigned() const { return static_cast<bool>(call_); }

    void operator()(Args... args) const { call_(std::forward<Args>(args)...); }

    bool operator==(const TEvent& other) const
    {
        return object_ == other.object_ && code_ == other.code_ && Assigned() == other.Assigned();
    }
    bool operator!=(const TEvent& other) const { return !(*this == other); }

    const void* Data() const { return object_; }

private:
    const void* object_ = nullptr;
    std::array<unsigned char, 2 * sizeof(void*)> code_ {};
    std::function<void(Args...)> call_;
};
