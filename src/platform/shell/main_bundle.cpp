#include "platform/shell/main_bundle.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QXmlStreamReader>

#include <atomic>

namespace platform {

namespace {

std::atomic<const MainBundle*> installed{nullptr};

// Reads a <dict> whose start tag was just read and returns the string under `wanted`.
std::optional<QString> stringInDict(QXmlStreamReader& xml, const QString& wanted) {
    std::optional<QString> found;
    while (xml.readNextStartElement()) {
        if (xml.name() != QLatin1String("key")) {
            xml.raiseError(QStringLiteral("value without a key"));
            return std::nullopt;
        }
        const QString key = xml.readElementText();
        if (!xml.readNextStartElement()) {
            xml.raiseError(QStringLiteral("key without a value"));
            return std::nullopt;
        }
        if (key == wanted && !found && xml.name() == QLatin1String("string")) {
            found = xml.readElementText();
        } else {
            xml.skipCurrentElement();
        }
    }
    return found;
}

}  // namespace

std::optional<QString> MainBundle::bundleIdentifierFromInfoPlist(const QByteArray& bytes) {
    QXmlStreamReader xml(bytes);
    if (!xml.readNextStartElement() || xml.name() != QLatin1String("plist")) return std::nullopt;
    if (!xml.readNextStartElement() || xml.name() != QLatin1String("dict")) return std::nullopt;
    std::optional<QString> identifier = stringInDict(xml, QStringLiteral("CFBundleIdentifier"));
    // The rest of the document must be well formed too: a damaged list counts as no list.
    while (!xml.atEnd()) xml.readNext();
    if (xml.hasError() || !identifier || identifier->isEmpty()) return std::nullopt;
    return identifier;
}

MainBundle MainBundle::fromExecutable(const QString& executablePath) {
    const QFileInfo executable(executablePath);
    const QDir macos = executable.absoluteDir();
    QDir contents = macos;
    const bool inBundle = macos.dirName() == QLatin1String("MacOS") && contents.cdUp() &&
                          contents.dirName() == QLatin1String("Contents") &&
                          QFileInfo(contents.absolutePath()).dir().dirName().endsWith(QLatin1String(".app"));
    if (!inBundle) return MainBundle(std::nullopt, macos.absolutePath());

    const QString bundlePath = QFileInfo(contents.absolutePath()).absolutePath();
    std::optional<QString> identifier;
    QFile plist(contents.filePath(QStringLiteral("Info.plist")));
    // A property list is small; anything far larger is not one.
    constexpr qint64 maxPlistBytes = 1 << 20;
    if (plist.open(QIODevice::ReadOnly) && plist.size() <= maxPlistBytes) {
        identifier = bundleIdentifierFromInfoPlist(plist.read(maxPlistBytes));
    }
    return MainBundle(std::move(identifier), bundlePath);
}

const MainBundle& MainBundle::shared() {
    if (const MainBundle* bundle = installed.load()) return *bundle;
    static const auto* own = new MainBundle(fromExecutable(QCoreApplication::applicationFilePath()));
    return *own;
}

const MainBundle* MainBundle::setShared(const MainBundle* bundle) { return installed.exchange(bundle); }

}  // namespace platform
