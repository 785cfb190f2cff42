#include "platform/power/linux_power_sources.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <string>
#include <string_view>
#include <memory>
#include <utility>
#include <vector>

namespace platform {

namespace {

const QString kUPowerService = QStringLiteral("org.freedesktop.UPower");

// One attribute file, trimmed; absent when it cannot be read. Attributes are a line or two, and
// a check reads a dozen of them, so this stays on plain system calls.
std::optional<std::string> readAttribute(const std::string& entry, const char* name) {
    const std::string path = entry + '/' + name;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    char buffer[128];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    ::close(fd);
    if (n <= 0) return std::nullopt;
    std::string_view text(buffer, static_cast<size_t>(n));
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
    return std::string(text);
}

std::optional<long long> readNumber(const std::string& entry, const char* name) {
    const auto text = readAttribute(entry, name);
    if (!text || text->empty()) return std::nullopt;
    long long value = 0;
    const auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), value);
    if (error != std::errc() || end != text->data() + text->size()) return std::nullopt;
    return value;
}

// now / full as a whole percent; a full of 0 or less (an uncalibrated gauge) gives nothing.
std::optional<int> ratioPercent(const std::string& entry, const char* now, const char* full) {
    const auto n = readNumber(entry, now);
    const auto f = readNumber(entry, full);
    if (!n || !f || *f <= 0) return std::nullopt;
    const double percent = std::round(100.0 * static_cast<double>(*n) / static_cast<double>(*f));
    // A gauge may read a little past full, or below empty while it settles.
    return static_cast<int>(std::clamp(percent, 0.0, 100.0));
}

std::optional<int> batteryLevel(const std::string& entry) {
    if (const auto capacity = readNumber(entry, "capacity")) return static_cast<int>(*capacity);
    if (const auto energy = ratioPercent(entry, "energy_now", "energy_full")) return energy;
    return ratioPercent(entry, "charge_now", "charge_full");
}

bool isAdapterType(const std::optional<std::string>& type) {
    return type && (*type == "Mains" || type->starts_with("USB"));
}

// The supplies' names in name order (the kernel lists them in the order they registered).
std::vector<std::string> supplyNames(const std::string& root) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(root.c_str());
    if (!dir) return names;
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.') continue;
        names.emplace_back(entry->d_name);
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

LinuxPowerSources::LinuxPowerSources(QString root, DBusConnection& systemBus)
    : root_(std::move(root)), systemBus_(systemBus) {}

LinuxPowerSources::SupplyKind LinuxPowerSources::kindOf(const std::string& entry, const std::string& name) {
    // A supply's type and scope are fixed while it exists: read them once per appearance.
    if (const auto known = kinds_.find(name); known != kinds_.end()) return known->second;
    const auto type = readAttribute(entry, "type");
    // Not readable yet (a supply coming up): ask again next time.
    if (!type) return SupplyKind::other;
    SupplyKind kind = SupplyKind::other;
    if (type == "Battery") {
        // A mouse's or a headset's battery is a peripheral's, not the machine's.
        kind = readAttribute(entry, "scope") == "Device" ? SupplyKind::other : SupplyKind::battery;
    } else if (isAdapterType(type)) {
        kind = SupplyKind::adapter;
    }
    kinds_.emplace(name, kind);
    return kind;
}

std::optional<PowerSourceDescription> LinuxPowerSources::firstPowerSource() {
    const std::string root = root_.toStdString();
    const std::vector<std::string> names = supplyNames(root);
    // Supplies that went away are forgotten, so one that comes back is looked at afresh.
    std::erase_if(kinds_, [&](const auto& known) { return !std::binary_search(names.begin(), names.end(), known.first); });

    std::optional<std::string> battery;
    bool onAC = false;
    for (const std::string& name : names) {
        const std::string entry = root + '/' + name;
        switch (kindOf(entry, name)) {
        case SupplyKind::battery:
            // An empty battery bay does not count.
            if (!battery && readAttribute(entry, "present") != "0") battery = entry;
            break;
        case SupplyKind::adapter:
            if (!onAC && readNumber(entry, "online").value_or(0) == 1) onAC = true;
            break;
        case SupplyKind::other: break;
        }
    }
    if (!battery) return std::nullopt;
    PowerSourceDescription description;
    description.currentCapacity = batteryLevel(*battery);
    if (const auto status = readAttribute(*battery, "status")) description.isCharging = *status == "Charging";
    description.powerSourceState = onAC ? kACPowerState : kBatteryPowerState;
    return description;
}

bool LinuxPowerSources::upowerAvailable() {
    if (!systemBus_.isConnected()) return false;
    const auto ask = [this](const QString& method, const QVariantList& arguments) {
        return systemBus_.call(DBusCall{QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                                        QStringLiteral("org.freedesktop.DBus"), method, arguments},
                               busTimeout);
    };
    const DBusReply owned = ask(QStringLiteral("NameHasOwner"), {kUPowerService});
    if (owned.ok() && owned.value().toBool()) return true;
    const DBusReply activatable = ask(QStringLiteral("ListActivatableNames"), {});
    return activatable.ok() && activatable.value().toStringList().contains(kUPowerService);
}

std::optional<AnyCancellable> LinuxPowerSources::createChangeNotification(std::function<void()> changed) {
    if (!upowerAvailable()) return std::nullopt;
    auto handler = std::make_shared<std::function<void()>>(std::move(changed));
    auto parts = std::make_shared<std::vector<AnyCancellable>>();
    // Any property of UPower or of one of its devices (level, state, the adapter's Online, OnBattery).
    parts->push_back(systemBus_.subscribe(
        DBusMatch{kUPowerService, QString(), QStringLiteral("org.freedesktop.DBus.Properties"),
                  QStringLiteral("PropertiesChanged"), QString()},
        [handler](const DBusSignal&) { (*handler)(); }));
    for (const char* member : {"DeviceAdded", "DeviceRemoved"}) {
        parts->push_back(systemBus_.subscribe(
            DBusMatch{kUPowerService, QString(), kUPowerService, QString::fromLatin1(member), QString()},
            [handler](const DBusSignal&) { (*handler)(); }));
    }
    // The bus refused the match: no notice will ever come.
    if (!parts->front().isActive()) return std::nullopt;
    return AnyCancellable([parts] {
        for (auto& part : *parts) part.cancel();
        parts->clear();
    });
}

namespace {
PowerSources* sourcesOverride = nullptr;
}

PowerSources& PowerSources::shared() {
    if (sourcesOverride) return *sourcesOverride;
    static auto* sources = new LinuxPowerSources();
    return *sources;
}

PowerSources* PowerSources::setShared(PowerSources* sources) { return std::exchange(sourcesOverride, sources); }

}  // namespace platform
