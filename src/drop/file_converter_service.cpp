#include "drop/file_converter_service.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cerrno>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Only the coders a dropped photo or picture needs; everything else (scripts, vector formats,
// delegates to other programs, indirect reads) is refused by the tool itself as well.
const char* const kPolicy = R"(<?xml version="1.0" encoding="UTF-8"?>
<policymap>
  <policy domain="resource" name="memory" value="256MiB"/>
  <policy domain="resource" name="map" value="512MiB"/>
  <policy domain="resource" name="disk" value="1GiB"/>
  <policy domain="resource" name="area" value="128MP"/>
  <policy domain="resource" name="width" value="32KP"/>
  <policy domain="resource" name="height" value="32KP"/>
  <policy domain="delegate" rights="none" pattern="*"/>
  <policy domain="filter" rights="none" pattern="*"/>
  <policy domain="path" rights="none" pattern="@*"/>
  <policy domain="coder" rights="none" pattern="*"/>
  <policy domain="coder" rights="read|write" pattern="{PNG,JPEG,JPG,GIF,WEBP,TIFF,TIF,BMP,HEIC}"/>
</policymap>
)";

const QStringList kImageFormats = {QStringLiteral("png"), QStringLiteral("jpeg"), QStringLiteral("jpg"),
                                   QStringLiteral("gif"), QStringLiteral("webp"), QStringLiteral("tiff"),
                                   QStringLiteral("tif"), QStringLiteral("bmp")};

QString defaultOutputDirectory() {
    return QDir::tempPath() + QStringLiteral("/quillvex-converted-") + QString::number(::getuid());
}

}  // namespace

FileConverterService::FileConverterService(platform::ProcessLauncher& launcher, platform::Scheduler& scheduler,
                                           Config config)
    : launcher_(launcher), scheduler_(scheduler), config_(std::move(config)) {
    outputDirectory_ = config_.outputDirectory.isEmpty() ? defaultOutputDirectory() : config_.outputDirectory;
    if (config_.maxConcurrent < 1) config_.maxConcurrent = 1;
}

FileConverterService& FileConverterService::shared() {
    static FileConverterService instance;
    return instance;
}

QString FileConverterService::baseName(const QString& path) {
    const QString name = QFileInfo(path).fileName();
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    // A leading dot starts a hidden name, not an extension.
    return dot > 0 ? name.left(dot) : name;
}

QString FileConverterService::imageCoder(const QByteArray& head) {
    auto at = [&](int offset, const char* magic) {
        const QByteArray m(magic);
        return head.size() >= offset + m.size() && head.mid(offset, m.size()) == m;
    };
    if (at(0, "\x89PNG\r\n\x1a\n")) return QStringLiteral("PNG");
    if (at(0, "\xff\xd8\xff")) return QStringLiteral("JPEG");
    if (at(0, "GIF87a") || at(0, "GIF89a")) return QStringLiteral("GIF");
    if (at(0, "RIFF") && at(8, "WEBP")) return QStringLiteral("WEBP");
    if (head.startsWith(QByteArray("II*\0", 4)) || head.startsWith(QByteArray("MM\0*", 4))) return QStringLiteral("TIFF");
    if (at(0, "BM") && head.size() >= 14) return QStringLiteral("BMP");
    if (at(4, "ftyp")) {
        const QByteArray brand = head.mid(8, 4);
        for (const char* b : {"heic", "heix", "hevc", "heim", "heis", "mif1", "msf1"})
            if (brand == b) return QStringLiteral("HEIC");
    }
    return {};
}

QStringList FileConverterService::imageArguments(const QString& coder, const QString& source, const QString& format,
                                                 const QString& output) const {
    // The explicit coders keep the tool from guessing a format from content or name; [0] takes
    // the first frame, so an animation gives one picture.
    return {QStringLiteral("MAGICK_CONFIGURE_PATH=") + outputDirectory_ + QStringLiteral("/.policy"),
            config_.convertPath,
            QStringLiteral("-limit"), QStringLiteral("memory"), QStringLiteral("256MiB"),
            QStringLiteral("-limit"), QStringLiteral("map"), QStringLiteral("512MiB"),
            QStringLiteral("-limit"), QStringLiteral("disk"), QStringLiteral("1GiB"),
            QStringLiteral("-limit"), QStringLiteral("time"), QString::number(static_cast<int>(config_.imageTimeoutSeconds)),
            coder + QLatin1Char(':') + source + QStringLiteral("[0]"),
            format.toUpper() + QLatin1Char(':') + output};
}

QStringList FileConverterService::videoArguments(const QString& source, const QString& output) const {
    return {QStringLiteral("-nostdin"), QStringLiteral("-hide_banner"), QStringLiteral("-loglevel"), QStringLiteral("error"),
            QStringLiteral("-protocol_whitelist"), QStringLiteral("file"),
            QStringLiteral("-format_whitelist"),
            QStringLiteral("mov,mp4,m4a,3gp,3g2,mj2,matroska,webm,avi,mpegts,flv,mpeg,ogg,asf"),
            QStringLiteral("-i"), QStringLiteral("file:") + source,
            QStringLiteral("-map"), QStringLiteral("0:v:0"), QStringLiteral("-map"), QStringLiteral("0:a:0?"),
            QStringLiteral("-c:v"), QStringLiteral("libx264"), QStringLiteral("-preset"), QStringLiteral("medium"),
            QStringLiteral("-crf"), QStringLiteral("18"), QStringLiteral("-pix_fmt"), QStringLiteral("yuv420p"),
            QStringLiteral("-c:a"), QStringLiteral("aac"), QStringLiteral("-b:a"), QStringLiteral("192k"),
            QStringLiteral("-movflags"), QStringLiteral("+faststart"), QStringLiteral("-f"), QStringLiteral("mp4"),
            QStringLiteral("-y"), QStringLiteral("file:") + output};
}

bool FileConverterService::prepareOutputDirectory() const {
    const QByteArray path = QFile::encodeName(outputDirectory_);
    if (::mkdir(path.constData(), 0700) != 0 && errno != EEXIST) return false;
    struct stat info {};
    // Another user's folder, or a link planted in the shared temporary directory, is not used.
    if (::lstat(path.constData(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != ::getuid()) return false;
    if ((info.st_mode & 077) != 0 && ::chmod(path.constData(), 0700) != 0) return false;
    return true;
}

bool FileConverterService::writePolicy() const {
    const QString folder = outputDirectory_ + QStringLiteral("/.policy");
    if (!QDir().mkpath(folder)) return false;
    QSaveFile file(folder + QStringLiteral("/policy.xml"));
    if (!file.open(QIODevice::WriteOnly)) return false;
    file.write(kPolicy);
    return file.commit();
}

QString FileConverterService::reserveOutput(const QString& stem, const QString& suffix) {
    QString candidate = outputDirectory_ + QLatin1Char('/') + stem + suffix;
    for (int n = 2; reserved_.contains(candidate); ++n)
        candidate = outputDirectory_ + QLatin1Char('/') + stem + QLatin1Char('-') + QString::number(n) + suffix;
    reserved_.insert(candidate);
    return candidate;
}

QString FileConverterService::temporaryFor(const QString& output) {
    const QFileInfo info(output);
    return info.absolutePath() + QStringLiteral("/.") + info.fileName() + QLatin1Char('.') +
           QString::number(::getpid()) + QLatin1Char('-') + QString::number(++counter_) + QStringLiteral(".part");
}

void FileConverterService::convertImage(const QUrl& url, const QString& format, Completion completion) {
    const QString lower = format.toLower();
    if (!url.isLocalFile() || !kImageFormats.contains(lower) || !prepareOutputDirectory() || !writePolicy()) {
        completion(std::nullopt);
        return;
    }
    const QString source = QFileInfo(url.toLocalFile()).absoluteFilePath();
    QFile file(source);
    const QString coder = file.open(QIODevice::ReadOnly) ? imageCoder(file.read(32)) : QString();
    if (coder.isEmpty()) {
        completion(std::nullopt);
        return;
    }
    Job job;
    job.output = reserveOutput(baseName(source), QLatin1Char('.') + format);
    job.temporary = temporaryFor(job.output);
    job.spec.program = config_.envPath;
    job.spec.arguments = imageArguments(coder, source, lower, job.temporary);
    job.spec.standardError = platform::ProcessSpec::Stderr::MergeWithStdout;
    job.timeout = config_.imageTimeoutSeconds;
    job.completion = std::move(completion);
    enqueue(std::move(job));
}

void FileConverterService::convertVideo(const QUrl& url, Completion completion) {
    if (!url.isLocalFile() || !prepareOutputDirectory()) {
        completion(std::nullopt);
        return;
    }
    const QString source = QFileInfo(url.toLocalFile()).absoluteFilePath();
    Job job;
    job.output = reserveOutput(baseName(source) + QStringLiteral("_converted"), QStringLiteral(".mp4"));
    job.temporary = temporaryFor(job.output);
    job.spec.program = config_.ffmpegPath;
    job.spec.arguments = videoArguments(source, job.temporary);
    job.spec.standardError = platform::ProcessSpec::Stderr::MergeWithStdout;
    job.timeout = config_.videoTimeoutSeconds;
    job.completion = std::move(completion);
    enqueue(std::move(job));
}

void FileConverterService::enqueue(Job job) {
    queue_.push_back(std::move(job));
    startNext();
}

void FileConverterService::startNext() {
    while (running_ < config_.maxConcurrent && !queue_.empty()) {
        Job job = std::move(queue_.front());
        queue_.pop_front();
        ++running_;
        scheduler_.global([this, job = std::move(job), done = lifetime_.wrap([this](const Job& j, const platform::ProcessResult& r) {
                               finish(j, r);
                           })]() mutable {
            // The tool's chatter is read and capped by run(), so a talkative tool cannot stall on a full pipe.
            platform::ProcessResult result = launcher_.run(job.spec, job.timeout, 64 * 1024);
            scheduler_.post([job = std::move(job), result = std::move(result), done]() mutable { done(job, result); });
        });
    }
}

void FileConverterService::finish(const Job& job, const platform::ProcessResult& result) {
    --running_;
    reserved_.remove(job.output);
    const QByteArray temporary = QFile::encodeName(job.temporary);
    const QByteArray output = QFile::encodeName(job.output);
    struct stat info {};
    const bool produced = result.succeeded() && ::lstat(temporary.constData(), &info) == 0 && S_ISREG(info.st_mode) &&
                          info.st_size > 0;
    // The finished file replaces an earlier one in a single step; a failed run leaves nothing behind.
    if (produced && ::rename(temporary.constData(), output.constData()) == 0) {
        job.completion(QUrl::fromLocalFile(job.output));
    } else {
        ::unlink(temporary.constData());
        job.completion(std::nullopt);
    }
    startNext();
}
