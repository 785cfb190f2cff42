// Feeds arbitrary bytes through what a downloaded package goes through: the checked extraction
// and the search for the bundle. Whatever the bytes, nothing may appear beside the extraction
// folder and no link left inside it may lead out of it.
#include "updater/update_package.h"

#include <QByteArray>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    QTemporaryDir dir;
    if (!dir.isValid()) return 0;
    const QString archive = dir.filePath(QStringLiteral("package.zip"));
    const QString extracted = dir.filePath(QStringLiteral("work/Extracted"));
    QDir().mkpath(extracted);
    {
        QFile file(archive);
        if (!file.open(QIODevice::WriteOnly)) return 0;
        file.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
    }
    UpdatePackage::Limits limits;
    limits.maxTotalBytes = 64 << 20;
    limits.maxEntries = 10000;
    const bool extractedOk = !UpdatePackage::extract(archive, extracted, limits);
    if (extractedOk) (void)UpdatePackage::findApplication(extracted);

    // Only the archive and the working folder beside each other; only Extracted in the latter.
    const QStringList top = QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    const QStringList work = QDir(dir.filePath("work")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    if (top != QStringList({"package.zip", "work"}) || work != QStringList{"Extracted"}) std::abort();
    if (QFileInfo::exists(QStringLiteral("/tmp/quillvex-fuzz-evil"))) std::abort();
    if (extractedOk) {
        const QString root = QFileInfo(extracted).canonicalFilePath();
        QDirIterator it(extracted, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QFileInfo info(it.next());
            if (!info.isSymLink()) continue;
            const QString target = info.canonicalFilePath();
            if (target.isEmpty() || !(target == root || target.startsWith(root + QLatin1Char('/')))) std::abort();
        }
    }
    return 0;
}
