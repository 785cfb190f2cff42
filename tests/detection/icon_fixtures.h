#pragma once

// Pictures for the tests of senders' icons: real ones, and a PNG whose header lies.

#include <QBuffer>
#include <QByteArray>
#include <QColor>
#include <QImage>

#include <cstdint>

namespace icontest {

inline QByteArray encoded(const QImage& image, const char* format = "PNG") {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

inline QImage solid(int width, int height, QColor color = QColor(200, 30, 30)) {
    QImage image(width, height, QImage::Format_ARGB32);
    image.fill(color);
    return image;
}

inline uint32_t crc32(const QByteArray& bytes) {
    uint32_t crc = 0xFFFFFFFFu;
    for (const char c : bytes) {
        crc ^= static_cast<uint8_t>(c);
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

inline QByteArray bigEndian(uint32_t value) {
    const char bytes[] = {char(value >> 24), char(value >> 16), char(value >> 8), char(value)};
    return QByteArray(bytes, 4);
}

// A well-formed PNG whose header claims `side` by `side` pixels, followed by next to no pixel
// data: decoding it would allocate side * side * 4 bytes.
inline QByteArray claimedHugePng(uint32_t side) {
    const QByteArray ihdr = "IHDR" + bigEndian(side) + bigEndian(side) + QByteArray("\x08\x06\x00\x00\x00", 5);
    const QByteArray idat = "IDAT" + QByteArray("\x78\x9c\x63\x00\x00\x00\x01\x00\x01", 9);
    auto chunk = [](const QByteArray& typed) {
        return bigEndian(uint32_t(typed.size() - 4)) + typed + bigEndian(crc32(typed));
    };
    return QByteArray("\x89PNG\r\n\x1a\n", 8) + chunk(ihdr) + chunk(idat) + chunk("IEND");
}

}  // namespace icontest
