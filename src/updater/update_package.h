#pragma once

#include <QString>
#include <QUrl>

#include <cstdint>
#include <optional>

// The steps of an install that touch the downloaded package: its file name, its digest, its
// checked extraction and the bundle inside. Every step is synchronous and leaves nothing outside
// the folder it is given.
class UpdatePackage {
public:
    // What an extraction may produce at most; a package past any of them is refused.
    struct Limits {
        int64_t maxTotalBytes = int64_t{2} << 30;  // the sum of every file's bytes as written
        int64_t maxEntries = 100000;
        int maxPathLength = 1024;
        int maxDepth = 64;
    };

    // What a step reports when it did not succeed.
    struct Failure {
        enum class Kind {
            File,       // the file system refused: `detail` is its own wording
            Archive,    // the archive is corrupt or hostile: `detail` says what was refused
            NotFound,   // no bundle in the extracted tree
        };
        Kind kind = Kind::File;
        QString detail;
    };

    static constexpr const char* fallbackArchiveName = "QuillvexUpdate.zip";

    // The download address's last component, decoded; anything that could name a place other than
    // a file in the working folder ("", ".", "..", a slash or NUL inside) becomes the fallback.
    static QString archiveFileName(const QUrl& downloadURL);
    // `version` with "/" (and NUL) as "-", then "-" and `uuid`.
    static QString workingDirectoryName(const QString& version, const QString& uuid);

    // The file's SHA-256 as 64 lower-case hex digits, read in chunks.
    static std::optional<QString> sha256Hex(const QString& path, Failure* failure = nullptr);

    // Extracts the ZIP at `archivePath` into `destination` (which must exist and be empty).
    // Refuses absolute names, ".." components, entries other than files, folders and symlinks,
    // symlinks that lead out of the tree or to nothing, and anything past `limits`.
    static std::optional<Failure> extract(const QString& archivePath, const QString& destination, const Limits& limits);
    static std::optional<Failure> extract(const QString& archivePath, const QString& destination) {
        return extract(archivePath, destination, Limits{});
    }

    // The first entry ending in ".app" (any case) in a walk sorted by name, folders before their
    // contents, hidden names skipped, links never followed. A bundle that is a symlink or holds a
    // link leading out of it is refused (Archive), and no bundle at all is NotFound.
    static std::optional<QString> findApplication(const QString& root, Failure* failure = nullptr);
};
