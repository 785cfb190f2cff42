#pragma once

// A thread of its own that runs a GLib main context, made its thread-default: GLib objects made
// there deliver their signals there. Objects made on a Qt worker would take that worker's private
// context instead, which nothing runs, and never signal.

#include <functional>
#include <thread>

typedef struct _GMainContext GMainContext;
typedef struct _GMainLoop GMainLoop;

namespace platform {

class GlibThread {
public:
    GlibThread();
    // Ends the loop and waits for the thread, unless called on it (then the thread ends by itself
    // once the step in progress returns).
    ~GlibThread();
    GlibThread(const GlibThread&) = delete;
    GlibThread& operator=(const GlibThread&) = delete;

    // Runs `step` on the thread, after what is queued there already; never inline.
    void post(std::function<void()> step);
    // Runs `step` on the thread and waits for it; inline when called on the thread.
    void run(const std::function<void()>& step);
    bool isCurrent() const { return std::this_thread::get_id() == thread_.get_id(); }

private:
    GMainContext* context_ = nullptr;
    GMainLoop* loop_ = nullptr;
    std::thread thread_;
};

}  // namespace platform
