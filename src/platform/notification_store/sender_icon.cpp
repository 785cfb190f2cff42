#include "platform/notification_store/sender_icon.h"

#include "platform/files/regular_file.h"

#include <QBuffer>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QUrl>

#include <algorithm>
#include <optional>

namespace platform {

namespace {

using namespace sendericon;

// `size` within the stored side, its aspect kept, never below one pixel.
QSize storedSize(const QSize& size) {
    if (size.width() <= storedSide && size.height() <= storedSide) return size;
    const double scale = double(storedSide) / std::max(size.width(), size.height());
    return QSize(std::max(1, int(size.width() * scale)), std::max(1, int(size.height() * scale)));
}

std::optional<QByteArray> pngOf(QImage image) {
    if (image.isNull()) return std::nullopt;
    const QSize target = storedSize(image.size());
    if (target != image.size()) image = image.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    if (!writer.write(image) || bytes.isEmpty()) return std::nullopt;
    return bytes;
}

// Decodes only what the header promises to be small: a huge or lying image is refused before
// its pixels are allocated. Formats that can scale while decoding (SVG, JPEG) decode at the
// stored size.
std::optional<QByteArray> fromImageBytes(const QByteArray& bytes) {
    if (bytes.isEmpty() || bytes.size() > maxSourceBytes) return std::nullopt;
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    const QSize size = reader.size();
    if (!size.isValid() || size.isEmpty() || size.width() > maxSourceSide || size.height() > maxSourceSide ||
        qint64(size.width()) * size.height() > maxSourcePixels)
        return std::nullopt;
    if (reader.supportsOption(QImageIOHandler::ScaledSize)) reader.setScaledSize(storedSize(size));
    QImage image;
    if (!reader.read(&image)) return std::nullopt;
    return pngOf(std::move(image));
}

// The absolute path a file source names; none for anything else.
std::optional<QString> pathOf(const QString& pathOrUrl) {
    QString path = pathOrUrl;
    if (path.startsWith(QLatin1String("file:"))) {
        const QUrl url(path);
        if (!url.isLocalFile() || !url.host().isEmpty()) return std::nullopt;
        path = url.toLocalFile();
    }
    if (!path.startsWith(QLatin1Char('/'))) return std::nullopt;
    return path;
}

std::optional<QByteArray> fromFile(const QString& pathOrUrl, const FileReadCanceller* canceller,
                                   std::optional<std::chrono::steady_clock::time_point> deadline) {
    const std::optional<QString> path = pathOf(pathOrUrl);
    if (!path) return std::nullopt;
    const std::optional<QByteArray> bytes = readRegularFile(*path, maxSourceBytes, canceller, deadline);
    return bytes ? fromImageBytes(*bytes) : std::nullopt;
}

// Checked against the declared sizes with 64-bit arithmetic before anything is allocated.
std::optional<QByteArray> fromPixels(const RawIconPixels& p) {
    if (p.width <= 0 || p.height <= 0 || p.width > maxSourceSide || p.height > maxSourceSide ||
        p.width * p.height > maxSourcePixels)
        return std::nullopt;
    if (p.bitsPerSample != 8 || p.channels != (p.hasAlpha ? 4 : 3)) return std::nullopt;
    const qint64 rowBytes = p.width * p.channels;
    if (p.rowstride < rowBytes || p.rowstride > rowBytes + 4096) return std::nullopt;
    // The last row need not be padded to the full stride (GdkPixbuf leaves it short), but the
    // image code may read whole strides: a short buffer is padded, within the bounds above.
    const qint64 full = p.rowstride * p.height;
    if (qint64(p.data.size()) < full - p.rowstride + rowBytes) return std::nullopt;
    QByteArray data = p.data;
    if (data.size() < full) data.resize(qsizetype(full), '\0');
    const QImage view(reinterpret_cast<const uchar*>(data.constData()), int(p.width), int(p.height),
                      qsizetype(p.rowstride), p.hasAlpha ? QImage::Format_RGBA8888 : QImage::Format_RGB888);
    return pngOf(view);
}

// A name the icon theme could hold: no path, no control characters, not too long.
bool isThemedName(const QString& name) {
    if (name.isEmpty() || name.toUtf8().size() > maxNameBytes || name.startsWith(QLatin1Char('.'))) return false;
    for (const QChar c : name) {
        if (c == QLatin1Char('/') || c == QLatin1Char('\\') || c.category() == QChar::Other_Control) return false;
    }
    return true;
}

bool looksLikeFile(const QString& text) {
    return text.startsWith(QLatin1Char('/')) || text.startsWith(QLatin1String("file:"));
}

}  // namespace

bool readsFilesInPlace(const std::vector<IconSource>& sources) {
    for (const IconSource& source : sources) {
        const bool file = source.kind == IconSource::Kind::file ||
                          (source.kind == IconSource::Kind::nameOrFile && looksLikeFile(source.text));
        if (!file) continue;
        const std::optional<QString> path = pathOf(source.text);
        if (path && !readsInPlace(*path)) return false;
    }
    return true;
}

StoredIcon resolveSenderIcon(const std::vector<IconSource>& sources, const FileReadCanceller* canceller,
                             std::optional<std::chrono::steady_clock::time_point> deadline) {
    for (const IconSource& source : sources) {
        std::optional<QByteArray> png;
        switch (source.kind) {
        case IconSource::Kind::nameOrFile:
            if (!looksLikeFile(source.text)) {
                if (isThemedName(source.text)) return {source.text, {}};
                break;
            }
            [[fallthrough]];
        case IconSource::Kind::file:
            png = fromFile(source.text, canceller, deadline);
            break;
        case IconSource::Kind::imageBytes:
            png = fromImageBytes(source.bytes);
            break;
        case IconSource::Kind::pixels:
            png = fromPixels(source.pixels);
            break;
        }
        if (png) return {{}, std::move(*png)};
    }
    return {};
}

}  // namespace platform
