#include "drop/file_converter_service.h"

#include "drop/staging_names.h"
#include "platform/files/regular_file.h"
#include "platform/files/private_folder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <fcntl.h>
#include <signal.h>
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

const QString kNotRegular = QStringLiteral("not a regular file");

// The first bytes of a regular file, opened without waiting (a pipe would block the open);
// none with why for anything else.
std::optional<QByteArray> regularFileHead(const QString& path, QString* why) {
    // Closing our descriptor of it would take away the locks of the connection that holds it.
    if (platform::isHeldByDatabase(path)) {
        *why = QStringLiteral("a database this application has open");
        return std::nullopt;
    }
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        // Some kinds refuse to be opened at all (a socket: ENXIO); they are named like the others.
        struct stat info {};
        if (::stat(QFile::encodeName(path).constData(), &info) == 0 && !S_ISREG(info.st_mode)) *why = kNotRegular;
        return std::nullopt;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        *why = kNotRegular;
        ::close(fd);
        return std::nullopt;
    }
    QByteArray head(32, Qt::Uninitialized);
    const ssize_t got = ::read(fd, head.data(), static_cast<size_t>(head.size()));
    ::close(fd);
    head.resize(got > 0 ? got : 0);
    return head;
}

}  // namespace

FileConverterService::FileConverterService(platform::ProcessLauncher& launcher, platform::Scheduler& scheduler,
                                           Config config)
    : launcher_(launcher), scheduler_(scheduler), config_(std::move(config)) {
    outputDirectory_ = config_.outputDirectory.isEmpty() ? platform::privateFolder(QStringLiteral("quillvex-converted"))
                                                         : config_.outputDirectory;
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

bool FileConverterService::writePolicy() const {
    const QString folder = outputDirectory_ + QStringLiteral("/.policy");
    if (!QDir().mkpath(folder)) return false;
    QSaveFile file(folder + QStringLiteral("/policy.xml"));
    if (!file.open(QIODevice::WriteOnly)) return false;
    file.write(kPolicy);
    return file.commit();
}

QString FileConverterService::reserveOutput(const QString& base, const QString& tag, const QString& extension) {
    // Only the source's own name is cut to fit; what this service adds stays whole.
    QString candidate = outputDirectory_ + QLatin1Char('/') + staging::fittedName({}, base, tag + extension);
    for (int n = 2; reserved_.contains(candidate); ++n)
        candidate = outputDirectory_ + QLatin1Char('/') +
                    staging::fittedName({}, base, tag + QLatin1Char('-') + QString::number(n) + extension);
    reserved_.insert(candidate);
    return candidate;
}

QString FileConverterService::temporaryFor(const QString& output) {
    // The tools read a '%' in a name as a frame number; the part's name is ours to choose.
    QString name = QFileInfo(output).fileName();
    name.replace(QLatin1Char('%'), QLatin1Char('_'));
    return outputDirectory_ + QLatin1Char('/') + staging::partName(name, ::getpid(), ++counter_);
}

void FileConverterService::convertImage(const QUrl& url, const QString& format, Completion completion) {
    const QString lower = format.toLower();
    if (!url.isLocalFile() || !kImageFormats.contains(lower) || outputDirectory_.isEmpty()) {
        completion(std::nullopt, {});
        return;
    }
    Job job;
    job.isImage = true;
    job.source = QFileInfo(url.toLocalFile()).absoluteFilePath();
    job.format = lower;
    job.output = reserveOutput(baseName(job.source), {}, QLatin1Char('.') + format);
    job.temporary = temporaryFor(job.output);
    job.serial = counter_;
    job.timeout = config_.imageTimeoutSeconds;
    job.completion = std::move(completion);
    enqueue(std::move(job));
}

void FileConverterService::convertVideo(const QUrl& url, Completion completion) {
    if (!url.isLocalFile() || outputDirectory_.isEmpty()) {
        completion(std::nullopt, {});
        return;
    }
    Job job;
    job.source = QFileInfo(url.toLocalFile()).absoluteFilePath();
    job.output = reserveOutput(baseName(job.source), QStringLiteral("_converted"), QStringLiteral(".mp4"));
    job.temporary = temporaryFor(job.output);
    job.serial = counter_;
    job.timeout = config_.videoTimeoutSeconds;
    job.completion = std::move(completion);
    enqueue(std::move(job));
}

FileConverterService::Outcome FileConverterService::run(const Job& job) const {
    Outcome outcome;
    outcome.result.status = platform::ProcessResult::Status::FailedToStart;
    if (platform::privateFolderProblem(outputDirectory_, true) || (job.isImage && !writePolicy())) return outcome;
    const std::optional<QByteArray> head = regularFileHead(job.source, &outcome.failure);
    if (!head) return outcome;
    platform::ProcessSpec spec;
    spec.standardError = platform::ProcessSpec::Stderr::MergeWithStdout;
    if (!job.isImage) {
        spec.program = config_.ffmpegPath;
        spec.arguments = videoArguments(job.source, job.temporary);
        // The tool's chatter is read and capped by run(), so a talkative tool cannot stall on a full pipe.
        outcome.result = launcher_.run(spec, job.timeout, 64 * 1024);
        return outcome;
    }
    const QString coder = imageCoder(*head);
    if (coder.isEmpty()) return outcome;
    // The tool reads the source through a link of ours: it would take a '%' or '[' in the
    // user's name as frame syntax.
    const QString link = outputDirectory_ + QLatin1Char('/') +
                         staging::partName(QStringLiteral("source"), ::getpid(), job.serial);
    if (!QFile::link(job.source, link)) return outcome;
    spec.program = config_.envPath;
    spec.arguments = imageArguments(coder, link, job.format, job.temporary);
    outcome.result = launcher_.run(spec, job.timeout, 64 * 1024);
    QFile::remove(link);
    return outcome;
}

void FileConverterService::removeStaleParts() {
    if (outputDirectory_.isEmpty()) return;
    scheduler_.global([folder = outputDirectory_] {
        if (platform::privateFolderProblem(folder, false)) return;
        const QStringList names = QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System);
        for (const QString& name : names) {
            const long long owner = staging::partOwner(name);
            // Only parts whose writer is gone: a part of a live process may still be growing.
            if (owner <= 0 || owner == ::getpid() || owner > INT_MAX) continue;
            if (::kill(static_cast<pid_t>(owner), 0) == 0 || errno != ESRCH) continue;
            ::unlink(QFile::encodeName(folder + QLatin1Char('/') + name).constData());
        }
    });
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
        scheduler_.global([this, job = std::move(job),
                           done = lifetime_.wrap([this](const Job& j, const Outcome& o) { finish(j, o); })]() mutable {
            Outcome outcome = run(job);
            scheduler_.post([job = std::move(job), outcome = std::move(outcome), done]() mutable { done(job, outcome); });
        });
    }
}

void FileConverterService::finish(const Job& job, const Outcome& outcome) {
    const platform::ProcessResult& result = outcome.result;
    --running_;
    reserved_.remove(job.output);
    const QByteArray temporary = QFile::encodeName(job.temporary);
    const QByteArray output = QFile::encodeName(job.output);
    struct stat info {};
    const bool produced = result.succeeded() && ::lstat(temporary.constData(), &info) == 0 && S_ISREG(info.st_mode) &&
                          info.st_size > 0;
    // The finished file replaces an earlier one in a single step; a failed run leaves nothing behind.
    if (produced && ::rename(temporary.constData(), output.constData()) == 0) {
        job.completion(QUrl::fromLocalFile(job.output), {});
    } else {
        ::unlink(temporary.constData());
        job.completion(std::nullopt, outcome.failure);
    }
    startNext();
}
