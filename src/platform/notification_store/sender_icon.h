#pragma once

// The icon a notification's sender names, as the call carried it, and the small form the store
// keeps of it. Senders name icons in four ways: a name in the icon theme, a file (path or file
// URL), the bytes of an image file, or raw pixels. Any of them may come from a hostile sender.

#include <QByteArray>
#include <QString>

#include <chrono>
#include <optional>
#include <vector>

namespace platform {

// Raw pixels as the notification hints carry them: (iiibiiay) width, height, rowstride,
// has_alpha, bits_per_sample, channels, data.
struct RawIconPixels {
    qint64 width = 0;
    qint64 height = 0;
    qint64 rowstride = 0;
    bool hasAlpha = false;
    qint64 bitsPerSample = 0;
    qint64 channels = 0;
    QByteArray data;
};

struct IconSource {
    enum class Kind {
        nameOrFile,  // a themed name, an absolute path or a file URL (Notify's strings may be any)
        file,        // a file URL or absolute path
        imageBytes,  // an encoded image (PNG, JPEG, SVG, ...)
        pixels,
    };
    Kind kind = Kind::nameOrFile;
    QString text;
    QByteArray bytes;
    RawIconPixels pixels;
};

// What the store keeps: a themed name (looked up where the icon theme is at hand), or a small PNG
// made from a file, image bytes or pixels. Both empty when the sender named no usable icon.
struct StoredIcon {
    QString themedName;
    QByteArray png;
    bool isEmpty() const { return themedName.isEmpty() && png.isEmpty(); }
};

namespace sendericon {

// Files and image bytes beyond this are not read or decoded.
inline constexpr qint64 maxSourceBytes = 4 * 1024 * 1024;
// Images wider or taller than maxSourceSide, or with more than maxSourcePixels pixels, are refused
// before any pixel is decoded.
inline constexpr qint64 maxSourceSide = 4096;
inline constexpr qint64 maxSourcePixels = 2048 * 2048;
// The stored PNG is at most this many pixels on its longer edge (never enlarged).
inline constexpr int storedSide = 128;
inline constexpr qsizetype maxNameBytes = 255;

}  // namespace sendericon

class FileReadCanceller;

// The first of `sources` (most preferred first) that gives a usable icon. Reads files with a byte
// limit and only when they are regular files (see readRegularFile: a file system that never
// answers costs only that icon, and a read in a child process ends by `deadline`); refuses images
// whose declared size is too large or whose pixel data is shorter than its declared size. Runs off
// the main thread.
StoredIcon resolveSenderIcon(const std::vector<IconSource>& sources, const FileReadCanceller* canceller = nullptr,
                             std::optional<std::chrono::steady_clock::time_point> deadline = std::nullopt);

// Whether resolveSenderIcon reads every file that `sources` name in place (see readsInPlace), so
// that it never waits on a child process.
bool readsFilesInPlace(const std::vector<IconSource>& sources);

}  // namespace platform
