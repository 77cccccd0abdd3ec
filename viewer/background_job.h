#pragma once

// The one way the windows run work off the interface thread: a thread of the toolkit's,
// a flag the work reads to stop early, and an owner that waits for the work before it goes.

#include <QThread>
#include <atomic>
#include <functional>
#include <memory>

namespace krv {

class BackgroundJob {
  public:
    using Work = std::function<void(const std::atomic<bool>& cancelled)>;

    BackgroundJob() = default;
    BackgroundJob(const BackgroundJob&) = delete;
    BackgroundJob& operator=(const BackgroundJob&) = delete;
    // A job still going is told to stop and waited for.
    ~BackgroundJob() { stop(); }

    void start(Work work) {
        cancelled_ = false;
        thread_.reset(QThread::create([this, work = std::move(work)] { work(cancelled_); }));
        thread_->start();
    }
    void cancel() { cancelled_ = true; }
    // Waits for the work to end; afterwards the job is not running.
    void wait() {
        if (!thread_) return;
        thread_->wait();
        thread_.reset();
    }
    void stop() {
        cancel();
        wait();
    }
    bool running() const { return thread_ != nullptr; }
    bool cancelled() const { return cancelled_; }

  private:
    std::unique_ptr<QThread> thread_;
    std::atomic<bool> cancelled_{false};
};

}  // namespace krv
