#include "music/media_remote_snapshot.h"

#include "core/image_helper.h"

#include <QByteArray>
#include <QJsonValue>

namespace {

std::optional<QString> text(const QJsonObject& reply, const char* key) {
    const QJsonValue value = reply.value(QLatin1String(key));
    if (!value.isString()) return std::nullopt;
    return value.toString();
}

std::optional<double> number(const QJsonObject& reply, const char* key) {
    const QJsonValue value = reply.value(QLatin1String(key));
    if (!value.isDouble()) return std::nullopt;
    return value.toDouble();
}

std::optional<QImage> imageOf(const QString& base64) {
    const auto decoded = QByteArray::fromBase64Encoding(base64.toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded) return std::nullopt;
    return ImageHelper::image(decoded.decoded);
}

std::optional<QImage> artworkOf(const QJsonObject& reply, ArtworkDecoder* covers) {
    const QJsonValue value = reply.value(QLatin1String("artworkBase64"));
    if (!value.isString()) return std::nullopt;
    return covers ? covers->decode(value.toString()) : imageOf(value.toString());
}

}  // namespace

std::optional<QImage> ArtworkDecoder::decode(const QString& base64) {
    {
        std::lock_guard lock(mutex_);
        if (text_ == base64) return image_;
    }
    std::optional<QImage> image = imageOf(base64);
    std::lock_guard lock(mutex_);
    text_ = base64;
    image_ = image;
    return image;
}

MediaRemoteSnapshot MediaRemoteSnapshot::fromReply(const QJsonObject& reply, QString* summary, ArtworkDecoder* covers) {
    MediaRemoteSnapshot snapshot;
    const QJsonValue playing = reply.value(QLatin1String("isPlaying"));
    snapshot.isPlaying = playing.isBool() && playing.toBool();
    snapshot.title = text(reply, "title");
    snapshot.artist = text(reply, "artist");
    snapshot.album = text(reply, "album");
    snapshot.bundleIdentifier = text(reply, "bundleIdentifier");
    snapshot.duration = number(reply, "duration");
    snapshot.elapsedTime = number(reply, "elapsedTime");
    snapshot.playbackRate = number(reply, "playbackRate");
    snapshot.artwork = artworkOf(reply, covers);
    if (const QJsonValue shuffle = reply.value(QLatin1String("shuffle")); shuffle.isBool()) snapshot.shuffle = shuffle.toBool();
    snapshot.loopStatus = text(reply, "loopStatus");
    snapshot.artworkPending = reply.value(QLatin1String("artworkPending")).toBool(false);

    if (summary) {
        const QString nil = QStringLiteral("nil");
        *summary = QStringLiteral("MediaRemoteHelper: playing=") +
                   (snapshot.isPlaying ? QStringLiteral("true") : QStringLiteral("false")) + QStringLiteral(" title=") +
                   snapshot.title.value_or(nil) + QStringLiteral(" artist=") + snapshot.artist.value_or(nil) +
                   QStringLiteral(" bundle=") + snapshot.bundleIdentifier.value_or(nil);
    }
    if (!snapshot.title) snapshot.title = snapshot.bundleIdentifier.value_or(QStringLiteral("Now Playing"));
    return snapshot;
}
