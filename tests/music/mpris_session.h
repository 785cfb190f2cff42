#pragma once

// One private session bus for a whole suite, with its address exported so that the helper
// processes the tests start find it, and fake MPRIS players on it.

#include "support/service_fixtures.h"

#include <QBuffer>
#include <QImage>

#include <gtest/gtest.h>

namespace musictest {

class MprisSession {
public:
    // Null (with the reason) when dbus-daemon or python3-dbusmock is missing.
    static std::unique_ptr<MprisSession> start(QString* error) {
        if (!testsupport::dbusmockAvailable()) {
            *error = QStringLiteral("python3-dbusmock is not installed");
            return nullptr;
        }
        auto session = std::unique_ptr<MprisSession>(new MprisSession);
        session->bus = testsupport::PrivateBus::start(testsupport::PrivateBus::Kind::session, error);
        if (!session->bus) return nullptr;
        session->exported = session->bus->exportAddress();
        return session;
    }

    // A player "org.mpris.MediaPlayer2.<suffix>" (its DesktopEntry is the suffix too).
    std::unique_ptr<testsupport::DBusMock> player(const QString& suffix, const QVariantMap& properties) {
        QString error;
        auto mock = testsupport::DBusMock::startMprisPlayer(*bus, suffix, properties, &error);
        EXPECT_TRUE(mock) << error.toStdString();
        return mock;
    }

    static QVariantMap playing(const QString& title, const QStringList& artists, const QVariantMap& extra = {}) {
        QVariantMap metadata{{QStringLiteral("xesam:title"), title}, {QStringLiteral("xesam:artist"), artists}};
        for (auto it = extra.begin(); it != extra.end(); ++it) metadata[it.key()] = it.value();
        return {{QStringLiteral("PlaybackStatus"), QStringLiteral("Playing")}, {QStringLiteral("Metadata"), metadata}};
    }

    static QByteArray png(int width, int height) {
        QImage image(width, height, QImage::Format_RGB32);
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) image.setPixel(x, y, qRgb(x % 256, y % 256, (x * y) % 256));
        }
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "PNG");
        return bytes;
    }

    // A PNG of noise: about as large as raw pixels, as a photographic cover.
    static QByteArray noisePng(int width, int height) {
        QImage image(width, height, QImage::Format_RGB32);
        uint32_t seed = 12345;
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                seed = seed * 1664525u + 1013904223u;
                image.setPixel(x, y, seed >> 8);
            }
        }
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "PNG");
        return bytes;
    }

    std::unique_ptr<testsupport::PrivateBus> bus;
    std::unique_ptr<testsupport::ScopedEnvironment> exported;

private:
    MprisSession() = default;
};

}  // namespace musictest
