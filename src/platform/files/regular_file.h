#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace platform {

// The bytes of the regular file at `path`, read with a byte limit that holds whatever the file's
// size claims (files under /proc say 0 and never end). None when it cannot be opened, is anything
// but a regular file (a pipe there never blocks the caller: it is opened non-blocking), is empty,
// or holds more than `maxBytes`.
std::optional<QByteArray> readRegularFile(const QString& path, qint64 maxBytes);

}  // namespace platform
