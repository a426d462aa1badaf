#include "handles.h"

#include "lasterror.h"

#include <mutex>
#include <unordered_map>
#include <vector>

using zq::kernel::KernelObject;

namespace zq::kernel {

KernelObject::~KernelObject() = default;

DWORD KernelObject::Wait(DWORD)
{
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
}

} // namespace zq::kernel

namespace {

struct HandleTable {
    std::mutex mutex;
    std::unordered_map<HANDLE, std::shared_ptr<KernelObject>> objects;
    std::unordered_multimap<HANDLE, std::function<void()>> closeWatchers;
    // Handles are not reused soon after closing, so a stale value held by
    // mistake names nothing rather than somebody else's object.
    HANDLE next = 0x100;
};

HandleTable& Table()
{
    static HandleTable* table = new HandleTable; // outlives static destructors
    return *table;
}

} // namespace

HANDLE zq::kernel::RegisterKernelObject(std::shared_ptr<KernelObject> object)
{
    HandleTable& t = Table();
    std::lock_guard lock(t.mutex);
    HANDLE h;
    do {
        h = t.next;
        t.next = (t.next >= 0x7FFFFFF0) ? 0x100 : t.next + 4;
    } while (t.objects.count(h));
    t.objects.emplace(h, std::move(object));
    return h;
}

std::shared_ptr<KernelObject> zq::kernel::LookupKernelObject(HANDLE h)
{
    HandleTable& t = Table();
    std::lock_guard lock(t.mutex);
    auto it = t.objects.find(h);
    if (it == t.objects.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return it->second;
}

BOOL CloseHandle(HANDLE h)
{
    std::shared_ptr<KernelObject> object;
    std::vector<std::function<void()>> watchers;
    {
        HandleTable& t = Table();
        std::lock_guard lock(t.mutex);
        auto it = t.objects.find(h);
        if (it == t.objects.end()) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        object = std::move(it->second);
        t.objects.erase(it);
        auto [from, to] = t.closeWatchers.equal_range(h);
        for (auto w = from; w != to; ++w)
            watchers.push_back(std::move(w->second));
        t.closeWatchers.erase(h);
    }
    // Outside the lock: closing may wake threads that look handles up.
    object->OnClose();
    for (auto& w : watchers)
        w();
    return TRUE;
}

BOOL zq::kernel::NotifyHandleClosed(HANDLE h, std::function<void()> fn)
{
    HandleTable& t = Table();
    std::lock_guard lock(t.mutex);
    if (!t.objects.count(h)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    t.closeWatchers.emplace(h, std::move(fn));
    return TRUE;
}

DWORD WaitForSingleObject(HANDLE h, DWORD timeoutMs)
{
    auto object = zq::kernel::LookupKernelObject(h);
    if (!object)
        return WAIT_FAILED;
    return object->Wait(timeoutMs);
}

int zq::kernel::OpenHandleCount()
{
    HandleTable& t = Table();
    std::lock_guard lock(t.mutex);
    return static_cast<int>(t.objects.size());
}
