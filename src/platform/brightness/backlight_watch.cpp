#include "platform/brightness/backlight_watch.h"

#include <QSocketNotifier>

#include <linux/netlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string_view>

namespace platform {

BacklightWatch& BacklightWatch::shared() {
    static auto* instance = new KernelBacklightWatch();
    return *instance;
}

KernelBacklightWatch::KernelBacklightWatch() = default;
KernelBacklightWatch::~KernelBacklightWatch() { close(); }

AnyCancellable KernelBacklightWatch::onChange(std::function<void()> changed) {
    if (listeners_++ == 0) open();
    auto inner = std::make_shared<AnyCancellable>(changed_.subscribe([changed = std::move(changed)](const Unit&) { changed(); }));
    return AnyCancellable([this, inner] {
        inner->cancel();
        if (--listeners_ == 0) close();
    });
}

bool KernelBacklightWatch::concernsBacklight(const char* message, size_t size) {
    const std::string_view all(message, size);
    // The header names the action: only devices that come or go change what a lookup finds.
    const size_t at = all.find('@');
    if (at == std::string_view::npos) return false;
    const std::string_view action = all.substr(0, at);
    if (action != "add" && action != "remove") return false;
    for (size_t begin = all.find('\0'); begin != std::string_view::npos && begin + 1 < all.size();) {
        const size_t end = all.find('\0', begin + 1);
        const std::string_view field = all.substr(begin + 1, (end == std::string_view::npos ? all.size() : end) - begin - 1);
        if (field == "SUBSYSTEM=leds" || field == "SUBSYSTEM=backlight") return true;
        begin = end;
    }
    return false;
}

void KernelBacklightWatch::open() {
    fd_ = ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, NETLINK_KOBJECT_UEVENT);
    if (fd_ < 0) return;
    sockaddr_nl address{};
    address.nl_family = AF_NETLINK;
    address.nl_groups = 1;  // the kernel's own announcements
    if (::bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd_);
        fd_ = -1;
        return;
    }
    notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(), [this] { readAnnouncements(); });
}

void KernelBacklightWatch::close() {
    notifier_.reset();
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

void KernelBacklightWatch::readAnnouncements() {
    bool concerned = false;
    char buffer[8192];
    for (;;) {
        const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        concerned = concerned || concernsBacklight(buffer, static_cast<size_t>(n));
    }
    if (concerned) changed_.send();
}

}  // namespace platform
