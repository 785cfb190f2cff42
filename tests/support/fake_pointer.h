#pragma once

#include "platform/pointer/drag_pasteboard.h"
#include "platform/pointer/haptic_feedback.h"
#include "platform/pointer/pointer_monitor.h"
#include "platform/pointer/polled_pointer_monitor.h"

#include <map>
#include <vector>

namespace testsupport {

// Scripted pointer: a test moves it and the installed handlers see the event at once. Installs
// itself as the shared monitor while alive.
class FakePointerMonitor final : public platform::PointerMonitor {
public:
    FakePointerMonitor();
    ~FakePointerMonitor() override;
    FakePointerMonitor(const FakePointerMonitor&) = delete;
    FakePointerMonitor& operator=(const FakePointerMonitor&) = delete;

    std::optional<Token> addGlobalMonitor(Handler handler) override;
    std::optional<Token> addLocalMonitor(Handler handler) override;
    void removeMonitor(Token token) override;
    QPointF mouseLocation() const override { return location; }
    std::optional<QPointF> lastKnownLocation() const override {
        return handlers_.empty() ? std::nullopt : std::optional<QPointF>(location);
    }
    uint32_t pressedMouseButtons() const override { return buttons; }

    // Moves the pointer with `buttons` held and tells the global handlers (the local ones when
    // `overOwnWindow`).
    void move(const QPointF& to, bool overOwnWindow = false);
    size_t globalCount() const;
    size_t localCount() const;

    QPointF location;
    uint32_t buttons = 0;
    // When false, adding a monitor fails as it does without a desktop pointer.
    bool available = true;

private:
    struct Entry {
        bool local;
        Handler handler;
    };
    std::map<Token, Entry> handlers_;
    Token next_ = 1;
    platform::PointerMonitor* previous_;
};

// A motion feed for PolledPointerMonitor that a test signals by hand. Like the server's, it says
// nothing while the monitor does not listen.
class FakeMotionFeed {
public:
    platform::PolledPointerMonitor::MotionWatch watch();
    void move() {
        if (listening && moved_) moved_();
    }
    bool alive = false;
    bool listening = false;

private:
    std::function<void()> moved_;
};

// The drag in progress, as a test sets it. Installs itself as the shared pasteboard while alive.
class FakeDragPasteboard final : public platform::DragPasteboard {
public:
    FakeDragPasteboard();
    ~FakeDragPasteboard() override;
    FakeDragPasteboard(const FakeDragPasteboard&) = delete;
    FakeDragPasteboard& operator=(const FakeDragPasteboard&) = delete;

    bool canReadFileURLs() override {
        ++queries;
        return sessionActive && hasFileUrls;
    }
    void startWatching() override { ++watchStarts; }
    bool sessionActive = false;
    bool hasFileUrls = false;
    int queries = 0;
    int watchStarts = 0;

private:
    platform::DragPasteboard* previous_;
};

// Counts the feedback performed. Installs itself as the shared performer while alive.
class RecordingHapticFeedback final : public platform::HapticFeedbackPerformer {
public:
    RecordingHapticFeedback();
    ~RecordingHapticFeedback() override;
    RecordingHapticFeedback(const RecordingHapticFeedback&) = delete;
    RecordingHapticFeedback& operator=(const RecordingHapticFeedback&) = delete;

    void perform(platform::HapticPattern pattern) override { patterns.push_back(pattern); }
    std::vector<platform::HapticPattern> patterns;

private:
    platform::HapticFeedbackPerformer* previous_;
};

}  // namespace testsupport
