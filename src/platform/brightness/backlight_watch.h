#pragma once

// Tells when a backlight or light device comes or goes: the kernel announces every device added
// to or removed from a class (uevents on a netlink socket), so a poller with nothing to read can
// wait for a device instead of looking for one several times a second.

#include "platform/runtime/reactive.h"

#include <functional>
#include <memory>

class QSocketNotifier;

namespace platform {

class BacklightWatch {
public:
    virtual ~BacklightWatch() = default;
    // The kernel's announcements; the socket is open only while someone listens.
    static BacklightWatch& shared();

    // `changed` runs on the main thread after a device of the "backlight" or "leds" class was
    // added or removed, until the returned handle is dropped.
    virtual AnyCancellable onChange(std::function<void()> changed) = 0;
};

class KernelBacklightWatch final : public BacklightWatch {
public:
    KernelBacklightWatch();
    ~KernelBacklightWatch() override;
    AnyCancellable onChange(std::function<void()> changed) override;

    // Whether one kernel announcement ("action@devpath", then KEY=value fields, NUL-separated)
    // adds or removes a device of a backlight or light class.
    static bool concernsBacklight(const char* message, size_t size);

private:
    void open();
    void close();
    void readAnnouncements();

    PassthroughSubject<Unit> changed_;
    int listeners_ = 0;
    int fd_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace platform
