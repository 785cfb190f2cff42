#include "platform/storage/json_defaults_storage.h"

#include "platform/runtime/dispatch.h"
#include "platform/logging/log_backend.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <nlohmann/json.hpp>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cmath>
#include <limits>

namespace platform {

namespace {

using Json = nlohmann::json;

const char* const kDateTag = "$date";
const char* const kDataTag = "$data";
const char* const kDoubleTag = "$double";

void logError(const QString& message) {
    auto& backend = LogBackend::shared();
    if (backend.isEnabled(LogLevel::Error)) backend.write(LogLevel::Error, message);
}

std::string utf8(const QString& text) { return text.toUtf8().toStdString(); }
QString fromUtf8(const std::string& text) { return QString::fromUtf8(text.data(), qsizetype(text.size())); }

Json encodeDouble(double d) {
    if (std::isfinite(d)) return Json(d);
    // JSON has no NaN or infinity; nlohmann would write null and the value would be lost.
    return Json{{kDoubleTag, std::isnan(d) ? "nan" : (d > 0 ? "inf" : "-inf")}};
}

Json encode(const DefaultsValue& value) {
    struct Visitor {
        Json operator()(bool b) const { return Json(b); }
        Json operator()(int64_t i) const { return Json(i); }
        Json operator()(double d) const { return encodeDouble(d); }
        Json operator()(const QString& s) const { return Json(utf8(s)); }
        Json operator()(const QDateTime& t) const {
            return Json{{kDateTag, t.isValid() ? utf8(t.toUTC().toString(Qt::ISODateWithMs)) : std::string()}};
        }
        Json operator()(const QByteArray& b) const { return Json{{kDataTag, b.toBase64().toStdString()}}; }
        Json operator()(const QStringList& list) const {
            Json array = Json::array();
            for (const auto& s : list) array.push_back(utf8(s));
            return array;
        }
    };
    return std::visit(Visitor{}, value);
}

// The value an entry holds, or the reason it cannot be read.
std::variant<DefaultsValue, QString> decode(const Json& json) {
    switch (json.type()) {
    case Json::value_t::boolean:
        return DefaultsValue(json.get<bool>());
    case Json::value_t::number_integer:
        return DefaultsValue(json.get<int64_t>());
    case Json::value_t::number_unsigned: {
        auto u = json.get<uint64_t>();
        if (u > uint64_t(std::numeric_limits<int64_t>::max())) return QStringLiteral("integer out of range");
        return DefaultsValue(int64_t(u));
    }
    case Json::value_t::number_float:
        return DefaultsValue(json.get<double>());
    case Json::value_t::string:
        return DefaultsValue(fromUtf8(json.get_ref<const std::string&>()));
    case Json::value_t::array: {
        QStringList list;
        for (const auto& item : json) {
            if (!item.is_string()) return QStringLiteral("list holds a non-text item");
            list << fromUtf8(item.get_ref<const std::string&>());
        }
        return DefaultsValue(list);
    }
    case Json::value_t::object: {
        if (json.size() != 1 || !json.begin()->is_string()) break;
        const std::string& tag = json.begin().key();
        const std::string& text = json.begin()->get_ref<const std::string&>();
        if (tag == kDateTag) {
            if (text.empty()) return DefaultsValue(QDateTime());
            QDateTime t = QDateTime::fromString(fromUtf8(text), Qt::ISODateWithMs);
            if (!t.isValid()) return QStringLiteral("invalid date");
            return DefaultsValue(t);
        }
        if (tag == kDataTag) {
            auto result = QByteArray::fromBase64Encoding(QByteArray::fromStdString(text),
                                                         QByteArray::AbortOnBase64DecodingErrors);
            if (!result) return QStringLiteral("invalid base64");
            return DefaultsValue(*result);
        }
        if (tag == kDoubleTag) {
            if (text == "nan") return DefaultsValue(std::numeric_limits<double>::quiet_NaN());
            if (text == "inf") return DefaultsValue(std::numeric_limits<double>::infinity());
            if (text == "-inf") return DefaultsValue(-std::numeric_limits<double>::infinity());
            return QStringLiteral("invalid double");
        }
        break;
    }
    default:
        break;
    }
    return QStringLiteral("unsupported value");
}

QString corruptTimestamp() {
    auto now = Scheduler::shared().wallNow();
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
    return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("yyyyMMdd-HHmmss"));
}

// The file's top-level object; an absent file is an empty object.
struct FileRead {
    std::optional<Json> root;  // nullopt when there is no file
    QString failure;           // why it cannot be read; empty when it could
};

// Reads a regular file of a sane size without blocking: a pipe or device put in the file's place
// cannot hold up the caller.
FileRead readRoot(const QString& path) {
    FileRead result;
    QFile file(path);
    if (!file.exists()) return result;
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        result.failure = QString::fromLocal8Bit(std::strerror(errno));
        return result;
    }
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        result.failure = file.errorString();
        return result;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        result.failure = QStringLiteral("not a regular file");
        return result;
    }
    const QString tooLarge = QStringLiteral("larger than %1 bytes").arg(JsonDefaultsStorage::maxFileBytes);
    if (info.st_size > JsonDefaultsStorage::maxFileBytes) {
        result.failure = tooLarge;
        return result;
    }
    // One byte more than the cap tells a file that grew since it was measured.
    const QByteArray bytes = file.read(JsonDefaultsStorage::maxFileBytes + 1);
    if (bytes.size() > JsonDefaultsStorage::maxFileBytes) {
        result.failure = tooLarge;
        return result;
    }
    if (file.error() != QFileDevice::NoError) {
        result.failure = file.errorString();
        return result;
    }
    file.close();

    try {
        Json root = Json::parse(bytes.constBegin(), bytes.constEnd());
        if (!root.is_object()) {
            result.failure = QStringLiteral("the top level is not an object");
            return result;
        }
        result.root = std::move(root);
    } catch (const Json::exception& e) {
        result.failure = QString::fromUtf8(e.what());
    }
    return result;
}

// The entries that decode; a line for each one skipped.
std::map<QString, DefaultsValue> decodeEntries(const Json& root, const QString& path, QStringList& problems) {
    std::map<QString, DefaultsValue> values;
    for (const auto& [key, json] : root.items()) {
        QString name = fromUtf8(key);
        auto decoded = decode(json);
        if (auto* reason = std::get_if<QString>(&decoded)) {
            problems << QStringLiteral("Defaults: Skipped \"%1\" in %2: %3").arg(name, path, *reason);
            continue;
        }
        values.emplace(name, std::get<DefaultsValue>(std::move(decoded)));
    }
    return values;
}

}  // namespace

JsonDefaultsStorage::JsonDefaultsStorage(QString filePath) : filePath_(std::move(filePath)) {}

std::map<QString, DefaultsValue> JsonDefaultsStorage::load() {
    const FileRead read = readRoot(filePath_);
    if (!read.failure.isEmpty()) {
        setAside(read.failure);
        return {};
    }
    if (!read.root) return {};
    QStringList problems;
    auto values = decodeEntries(*read.root, filePath_, problems);
    for (const QString& line : problems) logError(line);
    return values;
}

DefaultsStorage::Reread JsonDefaultsStorage::reread() {
    Reread result;
    const FileRead read = readRoot(filePath_);
    if (!read.failure.isEmpty()) {
        // Most often an editor caught halfway through its save: its next write brings us back.
        result.problems << QStringLiteral("Defaults: Could not read %1 (%2); keeping the settings in use until it "
                                          "changes again")
                               .arg(filePath_, read.failure);
    } else if (read.root) {
        result.values = decodeEntries(*read.root, filePath_, result.problems);
    }
    return result;
}

void JsonDefaultsStorage::setAside(const QString& reason) {
    const QString stem = filePath_ + QStringLiteral(".corrupt-") + corruptTimestamp();
    QString target = stem;
    for (int n = 1; QFileInfo::exists(target); ++n) target = stem + QLatin1Char('-') + QString::number(n);

    if (QFile::rename(filePath_, target)) {
        logError(QStringLiteral("Defaults: Could not read %1 (%2); moved it aside as %3 and using the defaults")
                     .arg(filePath_, reason, QFileInfo(target).fileName()));
        return;
    }
    // The user's file stays intact: a write reads it first and never replaces one it cannot read.
    logError(QStringLiteral("Defaults: Could not read %1 (%2) nor move it aside; using the defaults and "
                            "not saving changes to it")
                 .arg(filePath_, reason));
}

std::optional<DefaultsSaveFailure> JsonDefaultsStorage::save(const QString& key,
                                                             const std::optional<DefaultsValue>& value) {
    auto fail = [&](DefaultsSaveFailure::Kind kind, const QString& reason) {
        logError(QStringLiteral("Defaults: Could not save %1: %2").arg(filePath_, reason));
        return DefaultsSaveFailure{key, filePath_, kind, reason};
    };
    // Merge into the file as it is now, so a key changed there by someone else keeps their value.
    FileRead read = readRoot(filePath_);
    if (!read.failure.isEmpty())
        return fail(DefaultsSaveFailure::Kind::UnreadableFile,
                    QStringLiteral("cannot read it to merge into (%1)").arg(read.failure));
    Json root = read.root ? std::move(*read.root) : Json::object();
    if (value)
        root[utf8(key)] = encode(*value);
    else
        root.erase(utf8(key));
    const std::string text = root.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";

    const QFileInfo info(filePath_);
    if (!QDir().mkpath(info.absolutePath()))
        return fail(DefaultsSaveFailure::Kind::NotWritable, QStringLiteral("cannot create its folder"));
    QSaveFile file(filePath_);
    if (!file.open(QIODevice::WriteOnly)) return fail(DefaultsSaveFailure::Kind::NotWritable, file.errorString());
    file.write(text.data(), qint64(text.size()));
    if (!file.commit()) {
        const bool refused = file.error() == QFileDevice::OpenError || file.error() == QFileDevice::RenameError ||
                             file.error() == QFileDevice::PermissionsError;
        return fail(refused ? DefaultsSaveFailure::Kind::NotWritable : DefaultsSaveFailure::Kind::WriteFailed,
                    file.errorString());
    }
    return std::nullopt;
}

}  // namespace platform
