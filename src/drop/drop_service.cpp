#include "drop/drop_service.h"

#include "core/l10n.h"
#include "core/log.h"
#include "drop/staging_names.h"
#include "platform/files/regular_file.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <vector>
#include <unistd.h>

namespace {

QString systemError(int code) { return QString::fromLocal8Bit(std::strerror(code)); }

QString lastComponent(const QUrl& url) { return QFileInfo(url.isLocalFile() ? url.toLocalFile() : url.path()).fileName(); }

QString uniqueSibling(const QString& folder, const QString& name, const char* tag) {
    for (int n = 0;; ++n) {
        const QString candidate =
            folder + QLatin1Char('/') +
            staging::fittedName(QStringLiteral("."), name,
                                QLatin1Char('.') + QLatin1String(tag) + QLatin1Char('-') + QString::number(::getpid()) +
                                    QLatin1Char('-') + QString::number(n));
        struct stat info {};
        if (::lstat(QFile::encodeName(candidate).constData(), &info) != 0) return candidate;
    }
}

// A reason the user can act on, after the failure line.
QString detail(const QString& failure) { return failure.isEmpty() ? QString() : QStringLiteral(": ") + failure; }

QString notCopyable(const QString& name) { return QStringLiteral("%1 is not a regular file, folder or link").arg(name); }

QString inUse(const QString& name) { return QStringLiteral("%1 is a database this application has open").arg(name); }

// Copies a regular file's bytes and permissions to `target`, which must not exist yet. The
// source is opened without waiting, so a pipe swapped in after the check cannot stall the copy.
std::optional<QString> copyFile(const QString& source, const QString& target) {
    // Closing our descriptor of it would take away the locks of the connection that holds it.
    if (platform::isHeldByDatabase(source)) return inUse(QFileInfo(source).fileName());
    const int in = ::open(QFile::encodeName(source).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (in < 0) return systemError(errno);
    struct stat info {};
    if (::fstat(in, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(in);
        return notCopyable(QFileInfo(source).fileName());
    }
    const int out = ::open(QFile::encodeName(target).constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                           info.st_mode & 0777);
    if (out < 0) {
        const int code = errno;
        ::close(in);
        return systemError(code);
    }
    std::optional<QString> failure;
    std::vector<char> buffer(1 << 16);
    for (;;) {
        const ssize_t got = ::read(in, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            if (got < 0) failure = systemError(errno);
            break;
        }
        for (ssize_t done = 0; done < got && !failure;) {
            const ssize_t n = ::write(out, buffer.data() + done, static_cast<size_t>(got - done));
            if (n < 0 && errno != EINTR) failure = systemError(errno);
            if (n > 0) done += n;
        }
        if (failure) break;
    }
    if (!failure && ::fchmod(out, info.st_mode & 07777 & ~mode_t(S_ISUID | S_ISGID)) != 0) failure = systemError(errno);
    ::close(in);
    if (::close(out) != 0 && !failure) failure = systemError(errno);
    return failure;
}

// Copies a file, a link (as a link) or a folder tree to `target`, which must not exist yet.
// Pipes, sockets and devices inside a folder are left out: reading one could wait for ever.
std::optional<QString> copyTree(const QString& source, const QString& target) {
    struct stat info {};
    if (::lstat(QFile::encodeName(source).constData(), &info) != 0) return systemError(errno);
    if (S_ISLNK(info.st_mode)) {
        if (!QFile::link(QFileInfo(source).symLinkTarget(), target)) return systemError(errno);
        return std::nullopt;
    }
    if (S_ISDIR(info.st_mode)) {
        if (!QDir().mkdir(target)) return systemError(errno);
        ::chmod(QFile::encodeName(target).constData(), info.st_mode & 0777);
        const QDir dir(source);
        for (const QFileInfo& entry :
             dir.entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System)) {
            struct stat inner {};
            if (::lstat(QFile::encodeName(entry.filePath()).constData(), &inner) == 0 && !S_ISREG(inner.st_mode) &&
                !S_ISDIR(inner.st_mode) && !S_ISLNK(inner.st_mode))
                continue;
            if (auto failure = copyTree(entry.filePath(), target + QLatin1Char('/') + entry.fileName())) return failure;
        }
        return std::nullopt;
    }
    return copyFile(source, target);
}

void removeTree(const QString& path) {
    const QFileInfo info(path);
    if (info.isDir() && !info.isSymLink())
        QDir(path).removeRecursively();
    else
        QFile::remove(path);
}

}  // namespace

DropService::DropService(FileConverterService& converter, platform::SharingServices& sharing,
                         platform::FolderChooser& folderChooser, platform::Scheduler& scheduler)
    : converter_(converter), sharing_(sharing), folderChooser_(folderChooser), scheduler_(scheduler) {}

DropService& DropService::shared() {
    static DropService instance;
    return instance;
}

void DropService::perform(DropAction action, const QList<QUrl>& urls) {
    Log::shared().debug(QStringLiteral("[DropService] Performing action: ") + rawValue(action) + QStringLiteral(" on ") +
                        QString::number(urls.size()) + QStringLiteral(" file(s)"));
    switch (action) {
    case DropAction::airdrop: performAirDrop(urls); break;
    case DropAction::copyToFolder: performCopyToFolder(urls); break;
    case DropAction::convertImage: performConvertImage(urls); break;
    case DropAction::convertVideo: performConvertVideo(urls); break;
    }
}

void DropService::performAirDrop(const QList<QUrl>& urls) {
    const std::shared_ptr<platform::SharingService> service =
        sharing_.service(platform::SharingServices::sendViaAirDrop);
    if (!service) {
        Log::shared().error(QStringLiteral("[DropService] AirDrop service unavailable"));
        return;
    }
    if (!service->canPerform(urls)) {
        Log::shared().error(QStringLiteral("[DropService] AirDrop cannot perform with given items"));
        return;
    }
    service->perform(urls);
    Log::shared().info(QStringLiteral("[DropService] AirDrop initiated for ") + QString::number(urls.size()) +
                       QStringLiteral(" file(s)"));
}

void DropService::performCopyToFolder(const QList<QUrl>& urls) {
    scheduler_.post([this, urls] {
        const std::optional<QString> folder =
            folderChooser_.chooseDirectory(L10n::pick(QStringLiteral("Select Destination"), QStringLiteral("コピー先を選択")));
        if (!folder || folder->isEmpty()) {
            Log::shared().debug(QStringLiteral("[DropService] Copy to folder cancelled"));
            return;
        }
        // Dropped files are read off the main thread: a slow disk or a pipe must not freeze the app.
        platform::Scheduler& scheduler = scheduler_;
        scheduler_.global([&scheduler, urls, folder = *folder] {
            for (const QUrl& url : urls) {
                const QString name = lastComponent(url);
                const std::optional<QString> failure =
                    url.isLocalFile() ? copyItem(url.toLocalFile(), folder) : std::optional<QString>(QStringLiteral("Not a local file"));
                scheduler.post([failure, name, folder] {
                    if (failure)
                        Log::shared().error(QStringLiteral("[DropService] Copy failed: ") + *failure);
                    else
                        Log::shared().info(QStringLiteral("[DropService] Copied ") + name + QStringLiteral(" to ") + folder);
                });
            }
        });
    });
}

std::optional<QString> DropService::copyItem(const QString& sourcePath, const QString& folder) {
    const QFileInfo source(sourcePath);
    const QString name = source.fileName();
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        return QStringLiteral("Invalid file name");
    struct stat kind {};
    if (::lstat(QFile::encodeName(sourcePath).constData(), &kind) != 0) return systemError(errno);
    if (!S_ISREG(kind.st_mode) && !S_ISDIR(kind.st_mode) && !S_ISLNK(kind.st_mode)) return notCopyable(name);
    const QString destination = folder + QLatin1Char('/') + name;

    // The destination must never be the source itself, nor lie inside a dropped folder:
    // replacing it would delete the very data being copied.
    const QString canonicalSource = source.isSymLink() ? QFileInfo(source.absolutePath()).canonicalFilePath() + QLatin1Char('/') + name
                                                       : source.canonicalFilePath();
    const QString canonicalFolder = QFileInfo(folder).canonicalFilePath();
    if (canonicalFolder.isEmpty()) return systemError(ENOENT);
    if (canonicalFolder + QLatin1Char('/') + name == canonicalSource)
        return QStringLiteral("%1 is already in %2").arg(name, folder);
    if (source.isDir() && !source.isSymLink() &&
        (canonicalFolder == canonicalSource || canonicalFolder.startsWith(canonicalSource + QLatin1Char('/'))))
        return QStringLiteral("Cannot copy %1 into itself").arg(name);

    // Copy beside the destination first, then move it into place.
    const QString staging = uniqueSibling(folder, name, "copy");
    if (auto failure = copyTree(sourcePath, staging)) {
        removeTree(staging);
        return failure;
    }
    const QByteArray stagingName = QFile::encodeName(staging);
    const QByteArray destinationName = QFile::encodeName(destination);
    struct stat existing {};
    const bool exists = ::lstat(destinationName.constData(), &existing) == 0;
    const bool stagedIsDir = QFileInfo(staging).isDir() && !QFileInfo(staging).isSymLink();
    if (!exists || (!S_ISDIR(existing.st_mode) && !stagedIsDir)) {
        if (::rename(stagingName.constData(), destinationName.constData()) != 0) {
            const int code = errno;
            removeTree(staging);
            return systemError(code);
        }
        return std::nullopt;
    }
    // A folder on either side: set the old item aside, move the copy in, then drop the old one.
    const QString aside = uniqueSibling(folder, name, "old");
    const QByteArray asideName = QFile::encodeName(aside);
    if (::rename(destinationName.constData(), asideName.constData()) != 0) {
        const int code = errno;
        removeTree(staging);
        return systemError(code);
    }
    if (::rename(stagingName.constData(), destinationName.constData()) != 0) {
        const int code = errno;
        ::rename(asideName.constData(), destinationName.constData());
        removeTree(staging);
        return systemError(code);
    }
    removeTree(aside);
    return std::nullopt;
}

void DropService::performConvertImage(const QList<QUrl>& urls) {
    for (const QUrl& url : urls) {
        const QString name = lastComponent(url);
        converter_.convertImage(url, QStringLiteral("png"), [name](std::optional<QUrl> output, const QString& failure) {
            if (output)
                Log::shared().info(QStringLiteral("[DropService] Image converted: ") + output->toLocalFile());
            else
                Log::shared().error(QStringLiteral("[DropService] Image conversion failed for ") + name + detail(failure));
        });
    }
}

void DropService::performConvertVideo(const QList<QUrl>& urls) {
    for (const QUrl& url : urls) {
        const QString name = lastComponent(url);
        converter_.convertVideo(url, [name](std::optional<QUrl> output, const QString& failure) {
            if (output)
                Log::shared().info(QStringLiteral("[DropService] Video converted: ") + output->toLocalFile());
            else
                Log::shared().error(QStringLiteral("[DropService] Video conversion failed for ") + name + detail(failure));
        });
    }
}
