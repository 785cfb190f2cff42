#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

#include <archive.h>
#include <archive_entry.h>

#include <algorithm>
#include <string>
#include <vector>

// Writes ZIP packages for the updater tests, hostile ones included (libarchive writes any name).
struct ZipEntry {
    enum class Type { File, Folder, Link };
    Type type = Type::File;
    std::string name;
    QByteArray data;
    std::string target;  // links only
    int permissions = 0644;
    bool sizeInHeader = true;  // false: streamed, the size only after the data

    static ZipEntry file(std::string name, QByteArray data, int permissions = 0644) {
        return ZipEntry{Type::File, std::move(name), std::move(data), {}, permissions, true};
    }
    static ZipEntry folder(std::string name) { return ZipEntry{Type::Folder, std::move(name), {}, {}, 0755, true}; }
    static ZipEntry link(std::string name, std::string target) {
        return ZipEntry{Type::Link, std::move(name), {}, std::move(target), 0777, true};
    }
};

inline bool writeZip(const QString& path, const std::vector<ZipEntry>& entries) {
    archive* zip = archive_write_new();
    archive_write_set_format_zip(zip);
    bool ok = archive_write_open_filename(zip, path.toLocal8Bit().constData()) == ARCHIVE_OK;
    for (const ZipEntry& e : entries) {
        if (!ok) break;
        archive_entry* entry = archive_entry_new();
        archive_entry_set_pathname(entry, e.name.c_str());
        switch (e.type) {
        case ZipEntry::Type::File:
            archive_entry_set_filetype(entry, AE_IFREG);
            if (e.sizeInHeader) archive_entry_set_size(entry, e.data.size());
            else archive_entry_unset_size(entry);
            break;
        case ZipEntry::Type::Folder:
            archive_entry_set_filetype(entry, AE_IFDIR);
            break;
        case ZipEntry::Type::Link:
            archive_entry_set_filetype(entry, AE_IFLNK);
            archive_entry_set_symlink(entry, e.target.c_str());
            break;
        }
        archive_entry_set_perm(entry, static_cast<mode_t>(e.permissions));
        ok = archive_write_header(zip, entry) == ARCHIVE_OK;
        if (ok && e.type == ZipEntry::Type::File && !e.data.isEmpty()) {
            ok = archive_write_data(zip, e.data.constData(), static_cast<size_t>(e.data.size())) == e.data.size();
        }
        archive_entry_free(entry);
    }
    ok = archive_write_close(zip) == ARCHIVE_OK && ok;
    archive_write_free(zip);
    return ok;
}

// Makes the first entry's local and central headers claim `claimed` bytes whatever it holds: a
// package that lies about what it unpacks to.
inline bool claimUncompressedSize(const QString& path, quint32 claimed) {
    QFile zip(path);
    if (!zip.open(QIODevice::ReadWrite)) return false;
    const QByteArray head = zip.read(30);
    const char size[4] = {char(claimed & 0xff), char((claimed >> 8) & 0xff), char((claimed >> 16) & 0xff), char(claimed >> 24)};
    if (!head.startsWith("PK\x03\x04") || !zip.seek(22) || zip.write(size, 4) != 4) return false;
    // The central directory is near the end; read only the tail.
    const qint64 tailStart = std::max<qint64>(0, zip.size() - (1 << 16));
    zip.seek(tailStart);
    const qsizetype central = zip.read(1 << 16).indexOf("PK\x01\x02");
    return central >= 0 && zip.seek(tailStart + central + 24) && zip.write(size, 4) == 4;
}

inline QByteArray infoPlist(const QString& identifier, const QString& version, const QString& build) {
    return QStringLiteral(R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0"><dict>
<key>CFBundleExecutable</key><string>Quillvex</string>
<key>CFBundleIdentifier</key><string>%1</string>
<key>CFBundleShortVersionString</key><string>%2</string>
<key>CFBundleVersion</key><string>%3</string>
</dict></plist>
)")
        .arg(identifier, version, build)
        .toUtf8();
}

// A bundle at `prefix` ("Quillvex.app" or "Release/Quillvex.app") whose executable is `executable`.
inline std::vector<ZipEntry> bundleEntries(const std::string& prefix, const QString& version = QStringLiteral("1.4.0"),
                                           const QString& build = QStringLiteral("27"),
                                           const QByteArray& executable = "#!/bin/bash\nexit 0\n",
                                           const QString& identifier = QStringLiteral("com.varnock.Quillvex")) {
    return {ZipEntry::folder(prefix + "/"),
            ZipEntry::folder(prefix + "/Contents/"),
            ZipEntry::file(prefix + "/Contents/Info.plist", infoPlist(identifier, version, build)),
            ZipEntry::file(prefix + "/Contents/MacOS/Quillvex", executable, 0755),
            ZipEntry::file(prefix + "/Contents/Resources/A/data.bin", QByteArray(4096, 'q')),
            ZipEntry::link(prefix + "/Contents/Resources/Current", "A")};
}
