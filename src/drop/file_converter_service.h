#pragma once

// Converts one dropped file at a time: images with ImageMagick, videos to H.264/AAC MPEG-4 with
// ffmpeg, each a bounded child process. Outputs land in a folder private to the user; the caller
// learns the output path, or that there is none, once. Dropped files are read only off the main
// thread.

#include "platform/process/child_process.h"
#include "platform/runtime/dispatch.h"

#include <QByteArray>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <deque>
#include <functional>
#include <optional>

struct FileConverterConfig {
    QString convertPath = QStringLiteral("/usr/bin/convert");
    QString ffmpegPath = QStringLiteral("/usr/bin/ffmpeg");
    QString envPath = QStringLiteral("/usr/bin/env");
    // Empty: "quillvex-converted" in the user's private folder (platform::privateFolder).
    QString outputDirectory;
    double imageTimeoutSeconds = 120;
    double videoTimeoutSeconds = 1800;
    // Conversions running at once; the rest wait in order.
    int maxConcurrent = 2;
};

class FileConverterService {
public:
    // The output, or none with why when there is something the user can act on (else empty).
    using Completion = std::function<void(std::optional<QUrl> output, const QString& failure)>;

    using Config = FileConverterConfig;

    explicit FileConverterService(platform::ProcessLauncher& launcher = platform::ProcessLauncher::system(),
                                  platform::Scheduler& scheduler = platform::Scheduler::shared(), Config config = {});
    static FileConverterService& shared();

    // `format` is the target's format name and extension ("png"). Completes on the main thread,
    // or at once on the calling thread when the conversion cannot start.
    void convertImage(const QUrl& url, const QString& format, Completion completion);
    // To "<base>_converted.mp4". Completes as convertImage does.
    void convertVideo(const QUrl& url, Completion completion);

    QString outputDirectory() const { return outputDirectory_; }
    // Removes, off the main thread, the unfinished files that earlier runs of the app left in the
    // output folder (their process is gone). Run once at start.
    void removeStaleParts();
    int runningCount() const { return running_; }
    int queuedCount() const { return static_cast<int>(queue_.size()); }

    // The source name without its last extension ("archive.tar.gz" gives "archive.tar").
    static QString baseName(const QString& path);
    // The ImageMagick coder for the file's leading bytes; empty for anything outside the common
    // image formats (which then never reaches the tool).
    static QString imageCoder(const QByteArray& head);
    // The command lines, as run.
    QStringList imageArguments(const QString& coder, const QString& source, const QString& format,
                               const QString& output) const;
    QStringList videoArguments(const QString& source, const QString& output) const;

private:
    struct Job {
        bool isImage = false;
        QString source;
        QString format;  // images: the lower-case target format
        double timeout = 0;
        QString temporary;
        QString output;
        unsigned serial = 0;
        Completion completion;
    };
    struct Outcome {
        platform::ProcessResult result;
        QString failure;
    };

    // Runs on a worker: checks the source, builds the command line and runs the tool.
    Outcome run(const Job& job) const;
    bool writePolicy() const;
    // "<base><tag><extension>", or "<base><tag>-2<extension>"... while a queued or running job
    // holds the name; `base` cut to fit the name limit.
    QString reserveOutput(const QString& base, const QString& tag, const QString& extension);
    QString temporaryFor(const QString& output);
    void enqueue(Job job);
    void startNext();
    void finish(const Job& job, const Outcome& outcome);

    platform::ProcessLauncher& launcher_;
    platform::Scheduler& scheduler_;
    Config config_;
    QString outputDirectory_;
    std::deque<Job> queue_;
    QSet<QString> reserved_;
    int running_ = 0;
    unsigned counter_ = 0;
    platform::Lifetime lifetime_;
};
