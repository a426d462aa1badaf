#include "messages.h"

#include "lasterror.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

namespace {

struct MessageQueue {
    std::mutex mutex;
    std::condition_variable cond;
    std::deque<MSG> messages;
};

struct Registry {
    std::mutex mutex;
    std::unordered_map<DWORD, std::shared_ptr<MessageQueue>> queues;
    std::map<std::string, UINT> registered; // case-insensitive keys, stored upper-case
    UINT nextRegistered = 0xC000;
    struct Window {
        DWORD thread;
        std::shared_ptr<zq::kernel::WindowProc> proc;
    };
    std::unordered_map<HWND, Window> windows;
    uintptr_t nextWindow = 0x10000;
};

Registry& Reg()
{
    static Registry* r = new Registry; // outlives static destructors
    return *r;
}

// Removes the thread's queue when the thread ends, so later posts to it fail
// instead of piling up in a queue nobody reads.
struct QueueOwner {
    DWORD thread = 0;
    std::shared_ptr<MessageQueue> queue;
    ~QueueOwner()
    {
        if (!queue)
            return;
        Registry& r = Reg();
        std::lock_guard lock(r.mutex);
        r.queues.erase(thread);
    }
};
thread_local QueueOwner queueOwner;

std::shared_ptr<MessageQueue> OwnQueue()
{
    if (!queueOwner.queue) {
        queueOwner.thread = GetCurrentThreadId();
        queueOwner.queue = std::make_shared<MessageQueue>();
        Registry& r = Reg();
        std::lock_guard lock(r.mutex);
        r.queues[queueOwner.thread] = queueOwner.queue;
    }
    return queueOwner.queue;
}

std::shared_ptr<MessageQueue> QueueOf(DWORD thread)
{
    Registry& r = Reg();
    std::lock_guard lock(r.mutex);
    auto it = r.queues.find(thread);
    return it == r.queues.end() ? nullptr : it->second;
}

bool Matches(const MSG& m, HWND hwnd, UINT min, UINT max)
{
    if (hwnd && m.hwnd != hwnd)
        return false;
    if (m.message == WM_QUIT)
        return true;
    if (min == 0 && max == 0)
        return true;
    return m.message >= min && m.message <= max;
}

// Takes the first matching message; the caller holds the queue's lock.
bool Take(MessageQueue& q, MSG* out, HWND hwnd, UINT min, UINT max, bool remove)
{
    for (auto it = q.messages.begin(); it != q.messages.end(); ++it) {
        if (Matches(*it, hwnd, min, max)) {
            if (out)
                *out = *it;
            if (remove)
                q.messages.erase(it);
            return true;
        }
    }
    return false;
}

BOOL Post(const std::shared_ptr<MessageQueue>& q, HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    MSG m;
    m.hwnd = hwnd;
    m.message = msg;
    m.wParam = wParam;
    m.lParam = lParam;
    m.time = GetTickCount();
    {
        std::lock_guard lock(q->mutex);
        q->messages.push_back(m);
    }
    q->cond.notify_all();
    return TRUE;
}

} // namespace

DWORD GetCurrentThreadId()
{
    thread_local DWORD id = static_cast<DWORD>(syscall(SYS_gettid));
    return id;
}

void Sleep(DWORD ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

DWORD GetTickCount()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<DWORD>(ts.tv_sec * 1000ull + ts.tv_nsec / 1000000);
}

UINT RegisterWindowMessage(const std::string& name)
{
    if (name.empty()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::string key = name;
    for (char& c : key)
        c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    Registry& r = Reg();
    std::lock_guard lock(r.mutex);
    auto it = r.registered.find(key);
    if (it != r.registered.end())
        return it->second;
    if (r.nextRegistered > 0xFFFF) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    UINT id = r.nextRegistered++;
    r.registered.emplace(key, id);
    return id;
}

BOOL PostThreadMessage(DWORD threadId, UINT msg, WPARAM wParam, LPARAM lParam)
{
    auto q = QueueOf(threadId);
    if (!q) {
        SetLastError(ERROR_INVALID_THREAD_ID);
        return FALSE;
    }
    return Post(q, nullptr, msg, wParam, lParam);
}

BOOL GetMessage(MSG* msg, HWND hwnd, UINT filterMin, UINT filterMax)
{
    auto q = OwnQueue();
    std::unique_lock lock(q->mutex);
    MSG m;
    q->cond.wait(lock, [&] { return Take(*q, &m, hwnd, filterMin, filterMax, true); });
    if (msg)
        *msg = m;
    return m.message == WM_QUIT ? FALSE : TRUE;
}

BOOL zq::kernel::GetMessageTimeout(MSG* msg, UINT filterMin, UINT filterMax, DWORD timeoutMs)
{
    auto q = OwnQueue();
    std::unique_lock lock(q->mutex);
    MSG m;
    auto pred = [&] { return Take(*q, &m, nullptr, filterMin, filterMax, true); };
    bool got = timeoutMs == INFINITE ? (q->cond.wait(lock, pred), true)
                                     : q->cond.wait_for(lock, std::chrono::milliseconds(timeoutMs), pred);
    if (got && msg)
        *msg = m;
    return got ? TRUE : FALSE;
}

BOOL PeekMessage(MSG* msg, HWND hwnd, UINT filterMin, UINT filterMax, UINT removeFlags)
{
    auto q = OwnQueue();
    std::lock_guard lock(q->mutex);
    return Take(*q, msg, hwnd, filterMin, filterMax, (removeFlags & PM_REMOVE) != 0) ? TRUE : FALSE;
}

LRESULT DispatchMessage(const MSG* msg)
{
    if (!msg || !msg->hwnd)
        return 0;
    std::shared_ptr<zq::kernel::WindowProc> proc;
    {
        Registry& r = Reg();
        std::lock_guard lock(r.mutex);
        auto it = r.windows.find(msg->hwnd);
        if (it == r.windows.end())
            return 0;
        proc = it->second.proc;
    }
    return (*proc)(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

HWND zq::kernel::AllocateMessageWindow(WindowProc proc)
{
    OwnQueue();
    Registry& r = Reg();
    std::lock_guard lock(r.mutex);
    HWND h = reinterpret_cast<HWND>(r.nextWindow);
    r.nextWindow += 0x10;
    r.windows[h] = { GetCurrentThreadId(), std::make_shared<zq::kernel::WindowProc>(std::move(proc)) };
    return h;
}

void zq::kernel::DeallocateMessageWindow(HWND hwnd)
{
    Registry& r = Reg();
    std::lock_guard lock(r.mutex);
    r.windows.erase(hwnd);
}

BOOL PostMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (hwnd == HWND_BROADCAST) {
        std::vector<HWND> all;
        {
            Registry& r = Reg();
            std::lock_guard lock(r.mutex);
            for (auto& [h, w] : r.windows)
                all.push_back(h);
        }
        BOOL ok = TRUE;
        for (HWND h : all)
            if (!PostMessage(h, msg, wParam, lParam) && GetLastError() != ERROR_INVALID_HANDLE)
                ok = FALSE;
        return ok;
    }
    DWORD thread;
    {
        Registry& r = Reg();
        std::lock_guard lock(r.mutex);
        auto it = r.windows.find(hwnd);
        if (it == r.windows.end()) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        thread = it->second.thread;
    }
    auto q = QueueOf(thread);
    if (!q) {
        SetLastError(ERROR_INVALID_THREAD_ID);
        return FALSE;
    }
    return Post(q, hwnd, msg, wParam, lParam);
}
