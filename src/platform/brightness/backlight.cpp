#include "platform/brightness/backlight.h"

#include <QDir>
#include <QFile>

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

namespace {

// Polled several times a second: plain reads into a small buffer, no Qt file objects.
std::optional<int64_t> readNumber(const QString& path) {
    const QByteArray encoded = QFile::encodeName(path);
    const int fd = ::open(encoded.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    char buffer[64];
    const ssize_t n = ::read(fd, buffer, sizeof buffer - 1);
    ::close(fd);
    if (n <= 0) return std::nullopt;
    const char* begin = buffer;
    const char* end = buffer + n;
    while (begin < end && (*begin == ' ' || *begin == '\t')) ++begin;
    int64_t value = 0;
    const auto [rest, error] = std::from_chars(begin, end, value);
    if (error != std::errc() || rest == begin) return std::nullopt;
    if (rest != end && *rest != '\n' && *rest != ' ') return std::nullopt;
    return value;
}

int kindRank(const QString& devicePath) {
    QFile file(devicePath + QStringLiteral("/type"));
    if (!file.open(QIODevice::ReadOnly)) return 3;
    const QByteArray type = file.readAll().trimmed();
    if (type == "firmware") return 0;
    if (type == "platform") return 1;
    if (type == "raw") return 2;
    return 3;
}

}  // namespace

Backlights& Backlights::shared() {
    static auto* instance = new Backlights();
    return *instance;
}

Backlights::Backlights(QString sysRoot) : root_(std::move(sysRoot)) {}

Backlights::DisplayLookup Backlights::findDisplay() const {
    const QDir dir(root_ + QStringLiteral("/class/backlight"));
    if (!dir.exists()) return {};
    QStringList names = dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::System, QDir::Name);
    if (names.isEmpty()) return {DisplayLookup::Result::noDevice, {}};
    std::stable_sort(names.begin(), names.end(), [&](const QString& a, const QString& b) {
        return kindRank(dir.filePath(a)) < kindRank(dir.filePath(b));
    });
    return {DisplayLookup::Result::found, dir.filePath(names.first())};
}

// Run at every keyboard poll: a plain directory scan, no Qt listing and sorting.
std::optional<QString> Backlights::findKeyboard() const {
    static constexpr std::string_view suffix = "::kbd_backlight";
    const QByteArray folder = QFile::encodeName(root_ + QStringLiteral("/class/leds"));
    DIR* dir = ::opendir(folder.constData());
    if (!dir) return std::nullopt;
    std::string first;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name(entry->d_name);
        if (name.size() <= suffix.size() || !name.ends_with(suffix)) continue;
        if (first.empty() || name < first) first = name;
    }
    ::closedir(dir);
    if (first.empty()) return std::nullopt;
    return QFile::decodeName(folder) + QLatin1Char('/') + QFile::decodeName(QByteArray::fromStdString(first));
}

std::optional<float> Backlights::readLevel(const QString& devicePath) {
    const auto maximum = readNumber(devicePath + QStringLiteral("/max_brightness"));
    const auto current = readNumber(devicePath + QStringLiteral("/brightness"));
    if (!maximum || !current) return std::nullopt;
    if (*maximum <= 0) return 0.0f;
    return std::clamp(static_cast<float>(static_cast<double>(*current) / static_cast<double>(*maximum)), 0.0f, 1.0f);
}

}  // namespace platform
