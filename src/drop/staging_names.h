#pragma once

// Names of the hidden files a copy or a conversion writes beside its result before moving it
// into place. Whatever the source's name, they must fit the file system's name limit.

#include <QString>

namespace staging {

// The longest file name (one path component) in bytes on the file systems we write to.
constexpr int maxNameBytes = 255;

// `prefix + name + suffix`, with `name` cut at a character boundary so that the whole, encoded
// as a file name, fits in maxNameBytes.
QString fittedName(const QString& prefix, const QString& name, const QString& suffix);

// "." + name + "." + pid + "-" + serial + ".part", fitted: what this process writes while a
// file is not finished yet.
QString partName(const QString& name, long long pid, unsigned serial);
// The pid a part name carries, or -1 when `fileName` is no part name.
long long partOwner(const QString& fileName);

}  // namespace staging
