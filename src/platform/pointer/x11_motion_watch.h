#pragma once

// Tells when the pointer moves on an X display, without saying where, on connections of its own.
// Where the server records (the RECORD extension), every motion event the server makes is heard:
// a device's, a program's through XTest, relative or absolute, and a warp. Elsewhere XInput2 raw
// motion, which only devices and XTest make. Costs nothing while the pointer stands still (the
// socket is watched, never polled), and nothing while it is not listening.

#include <QByteArray>

#include <cstdint>
#include <functional>
#include <memory>

struct xcb_connection_t;
class QSocketNotifier;

namespace platform {

class X11MotionWatch {
public:
    enum class Source { record, rawMotion };

    // Watches `display` (empty: $DISPLAY); nullptr without a display or either extension. Every
    // motion the server makes once this returns is heard (and again once listening resumes).
    // `moved` runs on the main thread once per batch of motion the server sent. `allowRecord`
    // false takes raw motion even where the server records.
    static std::unique_ptr<X11MotionWatch> start(std::function<void()> moved, const QByteArray& display = {},
                                                 bool allowRecord = true);
    ~X11MotionWatch();
    X11MotionWatch(const X11MotionWatch&) = delete;
    X11MotionWatch& operator=(const X11MotionWatch&) = delete;

    Source source() const { return source_; }
    // The RECORD context that is enabled while listening; 0 with raw motion.
    uint32_t recordContext() const { return source_ == Source::record ? context_ : 0; }
    // Hears motion again, or stops hearing it so that no motion wakes the process meanwhile.
    void setListening(bool listening);
    void readPendingEvents();

private:
    X11MotionWatch() = default;
    bool startRecording(const QByteArray& display);
    bool startRawMotion();
    void watchSocket(xcb_connection_t* connection);
    void listen();
    void enableRecording();
    // Reads the recorded data, waiting, up to an answer of `category` or the end of the recording.
    void awaitRecorded(uint8_t category);
    uint8_t takeRecorded(void* reply);
    void endRecording();
    void readRecordedData();
    void selectRootMotion(bool listening);
    void readRootEvents();

    Source source_ = Source::rawMotion;
    // Requests (and raw motion events); the recorded data arrives on dataConnection_.
    xcb_connection_t* connection_ = nullptr;
    xcb_connection_t* dataConnection_ = nullptr;
    uint32_t root_ = 0;
    uint8_t xinputOpcode_ = 0;
    uint32_t context_ = 0;
    // The enabling request whose data is being read; 0 while the context is not enabled.
    unsigned int enabledSequence_ = 0;
    bool disabling_ = false;     // asked to stop recording; its end of data not read yet
    bool movedUnheard_ = false;  // motion read while waiting on the server, not told yet
    bool wantsListening_ = true;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::unique_ptr<QSocketNotifier> rootNotifier_;  // motion over the root, while recording
    std::function<void()> moved_;
};

}  // namespace platform
