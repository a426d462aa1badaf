#pragma once
// One thread that runs jobs in order. The synthesiser library keeps global
// state, so every call into it is made from this thread whoever asks.
#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <thread>

namespace zq::speech {

class EngineThread {
public:
    EngineThread();
    // Runs the jobs already queued, then `shutdown` on the thread, then joins it.
    ~EngineThread();
    EngineThread(const EngineThread&) = delete;
    EngineThread& operator=(const EngineThread&) = delete;

    void SetShutdown(std::function<void()> shutdown) { shutdown_ = std::move(shutdown); }
    void Post(std::function<void()> job);
    bool IsCurrent() const { return std::this_thread::get_id() == thread_.get_id(); }

    // Runs f on the engine thread and returns its result or rethrows its
    // exception. Called from a job, it runs at once instead of deadlocking.
    template <class F> auto Call(F f) -> decltype(f())
    {
        if (IsCurrent())
            return f();
        auto task = std::make_shared<std::packaged_task<decltype(f())()>>(std::move(f));
        auto result = task->get_future();
        Post([task] { (*task)(); });
        return result.get();
    }

private:
    void Run();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> jobs_;
    bool stopping_ = false;
    std::function<void()> shutdown_;
    std::thread thread_;
};

} // namespace zq::speech
