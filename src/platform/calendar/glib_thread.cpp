#include "platform/calendar/glib_thread.h"

#include <pthread.h>
#include <glib.h>

#include <future>

namespace platform {

namespace {

gboolean runStep(gpointer data) {
    (*static_cast<std::function<void()>*>(data))();
    return G_SOURCE_REMOVE;
}

void deleteStep(gpointer data) { delete static_cast<std::function<void()>*>(data); }

}  // namespace

GlibThread::GlibThread() : context_(g_main_context_new()), loop_(g_main_loop_new(context_, FALSE)) {
    // The thread holds its own references: it may outlive this object (see the destructor).
    thread_ = std::thread([context = g_main_context_ref(context_), loop = g_main_loop_ref(loop_)] {
        pthread_setname_np(pthread_self(), "glib-loop");
        g_main_context_push_thread_default(context);
        g_main_loop_run(loop);
        // Steps still queued are dropped with the context, unrun.
        g_main_context_pop_thread_default(context);
        g_main_loop_unref(loop);
        g_main_context_unref(context);
    });
}

GlibThread::~GlibThread() {
    if (isCurrent()) {
        g_main_loop_quit(loop_);
        thread_.detach();
    } else {
        // Through the context rather than the loop: a quit before the loop runs would be lost.
        post([loop = loop_] { g_main_loop_quit(loop); });
        thread_.join();
    }
    g_main_loop_unref(loop_);
    g_main_context_unref(context_);
}

void GlibThread::post(std::function<void()> step) {
    GSource* source = g_idle_source_new();
    g_source_set_priority(source, G_PRIORITY_DEFAULT);
    g_source_set_callback(source, runStep, new std::function<void()>(std::move(step)), deleteStep);
    g_source_attach(source, context_);
    g_source_unref(source);
}

void GlibThread::run(const std::function<void()>& step) {
    if (isCurrent()) {
        step();
        return;
    }
    std::promise<void> done;
    std::future<void> finished = done.get_future();
    post([&step, &done] {
        step();
        done.set_value();
    });
    finished.wait();
}

}  // namespace platform
