#include "drop/drop_service.h"

#include "core/l10n.h"
#include "core/log.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString systemError(int code) { return QString::fromLocal8Bit(std::strerror(code)); }

QString lastComponent(const QUrl& url) { return QFileInfo(url.isLocalFile() ? url.toLocalFile() : url.path()).fileName(); }

QString uniqueSibling(const QString& folder, const QString& name, const char* tag) {
    for (int n = 0;; ++n) {
        const QString candidate = folder + QStringLiteral("/.") + name + QLatin1Char('.') + QLatin1String(tag) +
                                  QLatin1Char('-') + QString::number(::getpid()) + QLatin1Char('-') + QString::number(n);
        struct stat info {};
        if (::lstat(QFile::encodeName(candidate).constData(), &info) != 0) return candidate;
    }
}

// Copies a file, a link (as a link) or a folder tree to `target`, which must not exist yet.
std::optional<QString> copyTree(const QString& source, const QString& target) {
    const QFileInfo info(source);
    if (info.isSymLink()) {
        if (!QFile::link(info.symLinkTarget(), target)) return systemError(errno);
        return std::nullopt;
    }
    if (info.isDir()) {
        if (!QDir().mkdir(target)) return systemError(errno);
        QFile::setPermissions(target, info.permissions());
        const QDir dir(source);
        for (const QFileInfo& entry :
             dir.entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System)) {
            if (auto failure = copyTree(entry.filePath(), target + QLatin1Char('/') + entry.fileName())) return failure;
        }
        return std::nullopt;
    }
    QFile file(source);
    if (!file.copy(target)) return file.errorString();
    return std::nullopt;
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
        for (const QUrl& url : urls) {
            const QString name = lastComponent(url);
            const std::optional<QString> failure =
                url.isLocalFile() ? copyItem(url.toLocalFile(), *folder) : std::optional<QString>(QStringLiteral("Not a local file"));
            if (failure)
                Log::shared().error(QStringLiteral("[DropService] Copy failed: ") + *failure);
            else
                Log::shared().info(QStringLiteral("[DropService] Copied ") + name + QStringLiteral(" to ") + *folder);
        }
    });
}

std::optional<QString> DropService::copyItem(const QString& sourcePath, const QString& folder) {
    const QFileInfo source(sourcePath);
    const QString name = source.fileName();
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        return QStringLiteral("Invalid file name");
    if (!source.exists() && !source.isSymLink()) return systemError(ENOENT);
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
        converter_.convertImage(url, QStringLiteral("png"), [name](std::optional<QUrl> output) {
            if (output)
                Log::shared().info(QStringLiteral("[DropService] Image converted: ") + output->toLocalFile());
            else
                Log::shared().error(QStringLiteral("[DropService] Image conversion failed for ") + name);
        });
    }
}

void DropService::performConvertVideo(const QList<QUrl>& urls) {
    for (const QUrl& url : urls) {
        const QString name = lastComponent(url);
        converter_.convertVideo(url, [name](std::optional<QUrl> output) {
            if (output)
                Log::shared().info(QStringLiteral("[DropService] Video converted: ") + output->toLocalFile());
            else
                Log::shared().error(QStringLiteral("[DropService] Video conversion failed for ") + name);
        });
    }
}
