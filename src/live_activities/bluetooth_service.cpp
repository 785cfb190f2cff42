#include "live_activities/bluetooth_service.h"

#include "core/enum_cases.h"
#include "core/format.h"
#include "core/log.h"

#include <QStringDecoder>
#include <QStringList>
#include <QUuid>

#include <vector>

namespace {

// The whitespace set a report line is trimmed of: tabs and space separators, never line breaks.
bool isBlank(QChar c) { return c == QLatin1Char('\t') || c.category() == QChar::Separator_Space; }

QStringView trimmed(QStringView text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isBlank(text[begin])) ++begin;
    while (end > begin && isBlank(text[end - 1])) --end;
    return text.sliced(begin, end - begin);
}

bool isAsciiDigit(QChar c) { return c.unicode() >= '0' && c.unicode() <= '9'; }

// The digits of the first match of (\d+)% in `text` (\d is ASCII only), or an empty view.
QStringView firstPercentDigits(QStringView text) {
    qsizetype i = 0;
    while (i < text.size()) {
        if (!isAsciiDigit(text[i])) {
            ++i;
            continue;
        }
        const qsizetype start = i;
        while (i < text.size() && isAsciiDigit(text[i])) ++i;
        if (i < text.size() && text[i] == QLatin1Char('%')) return text.sliced(start, i - start);
    }
    return {};
}

}  // namespace

BluetoothService& BluetoothService::shared() {
    static auto* instance = new BluetoothService();
    return *instance;
}

BluetoothService::BluetoothService(EventBus& bus, platform::Scheduler& scheduler, platform::BluetoothDevices& devices)
    : bus(bus), scheduler_(scheduler), devices_(devices) {}

void BluetoothService::start() {
    if (isRunning_) return;
    isRunning_ = true;
    recordCurrentlyConnectedDevices();
    connectNotification_ = devices_.observeConnections(lifetime_.wrap([this](const platform::BluetoothDevice& device) {
        if (device.isConnected) handleDeviceConnected(device);
        else handleDeviceDisconnected(device);
    }));
    Log::shared().info(QStringLiteral("BluetoothService: IOBluetooth registered (connectedAddresses: ") +
                       format::quotedList(QStringList(connectedAddresses_.begin(), connectedAddresses_.end())) +
                       QStringLiteral(")"));
    centralManager_ = devices_.observePowerState(
        lifetime_.wrap([this](platform::BluetoothPowerState state) { centralManagerDidUpdateState(state); }));
    Log::shared().info(QStringLiteral("BluetoothService: CoreBluetooth manager created"));
    noticeObservation_ = devices_.observeNotices(
        lifetime_.wrap([this](const QString& name) { handleBluetoothDistributedNotification(name); }));
    Log::shared().info(QStringLiteral("BluetoothService: Started monitoring"));
}

void BluetoothService::stop() {
    isRunning_ = false;
    ++runGeneration_;
    connectNotification_.cancel();
    centralManager_.cancel();
    connectedAddresses_.clear();
    noticeObservation_.cancel();
    Log::shared().info(QStringLiteral("BluetoothService: Stopped monitoring"));
}

void BluetoothService::recordCurrentlyConnectedDevices() {
    const auto devices = devices_.pairedDevices();
    if (!devices) {
        Log::shared().debug(QStringLiteral("BluetoothService: No paired devices found"));
        return;
    }
    for (const platform::BluetoothDevice& device : *devices) {
        const QString name = device.name.value_or(QStringLiteral("(no name)"));
        const QString address = device.address.value_or(QString());
        Log::shared().debug(QStringLiteral("BluetoothService: Paired device: ") + name + QStringLiteral(", connected: ") +
                            format::boolean(device.isConnected) + QStringLiteral(", addr: ") + address);
        // Its disconnect arrives through the one connection subscription.
        if (device.isConnected && !address.isEmpty()) connectedAddresses_.insert(address);
    }
}

void BluetoothService::handleDeviceConnected(const platform::BluetoothDevice& device) {
    const QString address = device.address ? *device.address : QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    const QString name = device.name.value_or(QStringLiteral("Unknown Device"));
    const uint32_t major = device.deviceClassMajor;
    const uint32_t minor = device.deviceClassMinor;
    Log::shared().info(QStringLiteral("BluetoothService: [IOBluetooth] Connect callback - ") + name + QStringLiteral(" (") +
                       address + QStringLiteral(")"));
    scheduler_.post(lifetime_.wrap([this, address, name, major, minor] {
        if (!isRunning_) return;
        if (connectedAddresses_.count(address)) {
            Log::shared().debug(QStringLiteral("BluetoothService: [IOBluetooth] Skipped (already in connectedAddresses) - ") +
                                name);
            return;
        }
        connectedAddresses_.insert(address);
        showBluetoothActivity(name, classifyDevice(name, major, minor));
    }));
}

void BluetoothService::handleDeviceDisconnected(const platform::BluetoothDevice& device) {
    const QString address = device.address.value_or(QString());
    const QString name = device.name.value_or(QStringLiteral("Unknown"));
    scheduler_.post(lifetime_.wrap([this, address, name] {
        connectedAddresses_.erase(address);
        Log::shared().info(QStringLiteral("BluetoothService: [IOBluetooth] Disconnected - ") + name);
    }));
}

void BluetoothService::handleBluetoothDistributedNotification(const QString& name) {
    if (!isRunning_) return;
    Log::shared().debug(QStringLiteral("BluetoothService: [DistributedNotification] ") + name);
    if (!name.toLower().contains(QStringLiteral("connect"))) return;
    Log::shared().info(QStringLiteral("BluetoothService: [DistributedNotification] Connection event detected: ") + name);
    scheduler_.after(scanDelay, lifetime_.wrap([this] { scanForNewConnections(); }));
}

void BluetoothService::scanForNewConnections() {
    if (!isRunning_) return;
    const auto devices = devices_.pairedDevices();
    if (!devices || devices->empty()) return;
    for (const platform::BluetoothDevice& device : *devices) {
        if (!device.isConnected || !device.address || device.address->isEmpty()) continue;
        if (connectedAddresses_.count(*device.address)) continue;
        connectedAddresses_.insert(*device.address);
        const QString name = device.name.value_or(QStringLiteral("Unknown Device"));
        const BluetoothDeviceCategory category = classifyDevice(name, device.deviceClassMajor, device.deviceClassMinor);
        Log::shared().info(QStringLiteral("BluetoothService: [Scan] New connection found - ") + name);
        showBluetoothActivity(name, category);
        return;
    }
}

BluetoothDeviceCategory BluetoothService::classifyDevice(const QString& name, uint32_t majorClass, uint32_t minorClass) {
    const QString n = name.toLower();
    auto has = [&n](const char* part) { return n.contains(QLatin1String(part)); };
    if (has("apple watch")) return BluetoothDeviceCategory::appleWatch;
    if (has("airpods max")) return BluetoothDeviceCategory::airpodsMax;
    if (has("airpods")) return BluetoothDeviceCategory::airpods;
    if (majorClass == 4 && (minorClass == 1 || minorClass == 6)) return BluetoothDeviceCategory::headphones;
    if (majorClass == 4 && minorClass == 4) return BluetoothDeviceCategory::speaker;
    if (has("headphone") || has("buds") || has("pods")) return BluetoothDeviceCategory::headphones;
    if (has("speaker") || has("soundbar") || has("homepod")) return BluetoothDeviceCategory::speaker;
    return BluetoothDeviceCategory::other;
}

void BluetoothService::showBluetoothActivity(const QString& name, BluetoothDeviceCategory category) {
    if (name == QLatin1String("Unknown Device")) {
        Log::shared().debug(QStringLiteral("BluetoothService: Skipped activity for Unknown Device"));
        return;
    }
    const int64_t now = scheduler_.monotonicMicros();
    if (name == lastShownDevice_ && lastShownTimeMicros_ &&
        now - *lastShownTimeMicros_ < static_cast<int64_t>(duplicateWindow * 1'000'000)) {
        Log::shared().debug(QStringLiteral("BluetoothService: Skipped duplicate show for ") + name);
        return;
    }
    lastShownDevice_ = name;
    lastShownTimeMicros_ = now;
    bus.bluetoothDeviceSubject.send(BluetoothDeviceInfo{name, category, std::nullopt});
    bus.liveActivityEventSubject.send(LiveActivityType::bluetooth);
    Log::shared().info(QStringLiteral("BluetoothService: Showing activity - ") + name + QStringLiteral(" (") +
                       caseName(category) + QStringLiteral("), querying battery..."));

    const uint64_t generation = runGeneration_;
    scheduler_.after(batteryQueryDelay, lifetime_.wrap([this, name, category, generation] {
        // A stop in between ends the step: a stopped service announces nothing.
        if (!isRunning_ || generation != runGeneration_) return;
        scheduler_.global(lifetime_.wrap([this, name, category, generation] {
            const std::optional<int> level = queryBatteryLevel(name);
            if (!level) {
                Log::shared().info(QStringLiteral("BluetoothService: No battery available for ") + name);
                return;
            }
            scheduler_.post(lifetime_.wrap([this, name, category, generation, level] {
                if (!isRunning_ || generation != runGeneration_) return;
                bus.bluetoothDeviceSubject.send(BluetoothDeviceInfo{name, category, level});
                Log::shared().info(QStringLiteral("BluetoothService: Battery updated - ") + name + QStringLiteral(": ") +
                                   QString::number(*level) + QStringLiteral("%"));
            }));
        }));
    }));
}

std::optional<int> BluetoothService::queryBatteryLevel(const QString& deviceName) {
    const platform::BluetoothBatteryReport report = devices_.batteryReport(batteryQueryTimeout);
    if (!report.output) {
        Log::shared().debug(QStringLiteral("BluetoothService: system_profiler failed: ") + report.errorText);
        return std::nullopt;
    }
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString output = decoder.decode(*report.output);
    if (decoder.hasError()) return std::nullopt;
    return parseBatteryFromProfiler(output, deviceName);
}

std::optional<int> BluetoothService::parseBatteryFromProfiler(const QString& output, const QString& deviceName) {
    const QString wanted = deviceName.toLower();
    bool inSection = false;
    std::vector<int64_t> levels;
    for (const QStringView line : QStringView(output).tokenize(u'\n')) {
        const QStringView t = trimmed(line);
        const bool containsBattery = t.contains(u"Battery");
        if (t.endsWith(u':') && !containsBattery) {
            const QStringView header = trimmed(t.chopped(1));
            inSection = header.toString().toLower() == wanted;
            if (inSection) levels.clear();
            continue;
        }
        if (!inSection || !containsBattery || !t.contains(u"Battery Level:")) continue;
        const QStringView digits = firstPercentDigits(t);
        if (digits.isEmpty()) continue;
        bool ok = false;
        const qlonglong level = digits.toLongLong(&ok);
        // A percentage outside 0...100 is no reading: it would skew the mean (or overflow its sum).
        if (ok && level >= 0 && level <= 100) levels.push_back(level);
    }
    if (levels.empty()) return std::nullopt;
    int64_t sum = 0;
    for (const int64_t level : levels) sum += level;
    const int result = static_cast<int>(sum / static_cast<int64_t>(levels.size()));
    Log::shared().debug(QStringLiteral("BluetoothService: Battery for ") + deviceName + QStringLiteral(": ") +
                        format::intList(levels) + QStringLiteral(" \u2192 avg ") + QString::number(result) +
                        QStringLiteral("%"));
    return result;
}

void BluetoothService::centralManagerDidUpdateState(platform::BluetoothPowerState state) {
    Log::shared().info(QStringLiteral("BluetoothService: [CoreBluetooth] State updated: ") +
                       QString::number(static_cast<int>(state)));
}
