#include "drop/file_converter_service.h"

#include "support/fake_process.h"
#include "support/fixtures.h"
#include "support/service_fixtures.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <sys/stat.h>

using testsupport::FakeProcessLauncher;

namespace {

// The path a command line writes to: its last argument after the coder or protocol prefix.
QString outputOf(const platform::ProcessSpec& spec) {
    const QString last = spec.arguments.back();
    return last.mid(last.indexOf(QLatin1Char(':')) + 1);
}

const QByteArray kJpegHead("\xff\xd8\xff\xe0\0\x10JFIF\0", 11);

class FileConverterTest : public testsupport::QuillvexTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(sources.isValid());
        ASSERT_TRUE(temp.isValid());
        // By default every run writes its output and succeeds.
        launcher.onRun = [this](const platform::ProcessSpec& spec, double) {
            if (toolWrites) testsupport::writeFile(outputOf(spec), "converted");
            platform::ProcessResult result;
            result.status = platform::ProcessResult::Status::Exited;
            result.exitCode = exitCode;
            return result;
        };
    }

    FileConverterService make(int maxConcurrent = 2) {
        FileConverterService::Config config;
        config.outputDirectory = temp.path() + QStringLiteral("/out");
        config.maxConcurrent = maxConcurrent;
        return FileConverterService(launcher, scheduler(), config);
    }

    QUrl source(const QString& name, const QByteArray& bytes = kJpegHead) {
        const QString path = sources.path() + QLatin1Char('/') + name;
        testsupport::writeFile(path, bytes);
        return QUrl::fromLocalFile(path);
    }

    QTemporaryDir sources;
    QTemporaryDir temp;
    FakeProcessLauncher launcher;
    bool toolWrites = true;
    int exitCode = 0;
    std::vector<std::optional<QUrl>> results;
    QStringList failures;
    FileConverterService::Completion record = [this](std::optional<QUrl> url, const QString& why) {
        results.push_back(url);
        failures.push_back(why);
    };
};

TEST_F(FileConverterTest, ImageGoesToItsBaseNameWithTheFormatAndCompletesOnTheMainQueue) {
    FileConverterService converter = make();
    converter.convertImage(source(QStringLiteral("holiday.jpeg")), QStringLiteral("png"), record);
    EXPECT_TRUE(results.empty());  // not before the main queue runs
    scheduler().drain();
    const QString expected = temp.path() + QStringLiteral("/out/holiday.png");
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0], QUrl::fromLocalFile(expected));
    EXPECT_TRUE(QFile::exists(expected));

    ASSERT_EQ(launcher.runs().size(), 1u);
    const platform::ProcessSpec& spec = launcher.runs()[0].spec;
    EXPECT_EQ(spec.program, QStringLiteral("/usr/bin/env"));
    EXPECT_TRUE(spec.arguments.contains(QStringLiteral("/usr/bin/convert")));
    // The coder is named from the content, the first frame only, the output coder explicit.
    // The tool reads the source through a link of ours, whose name holds no frame syntax.
    const QString input = spec.arguments.at(spec.arguments.size() - 2);
    EXPECT_TRUE(input.startsWith(QStringLiteral("JPEG:") + temp.path() + QStringLiteral("/out/.source.")));
    EXPECT_TRUE(input.endsWith(QStringLiteral(".part[0]")));
    EXPECT_TRUE(spec.arguments.back().startsWith(QStringLiteral("PNG:") + temp.path() + QStringLiteral("/out/.holiday.png.")));
    EXPECT_EQ(launcher.runs()[0].timeoutSeconds, 120);
    // Nothing but the result is left in the folder.
    EXPECT_EQ(QDir(temp.path() + QStringLiteral("/out")).entryList(QDir::Files | QDir::Hidden),
              QStringList{QStringLiteral("holiday.png")});
}

TEST_F(FileConverterTest, NamesUpToTheLimitConvertUnderFittedNames) {
    FileConverterService converter = make();
    // 250 bytes of two-byte characters and an extension: the output is cut at a character.
    const QString stem = QString(123, QChar(0xE9));
    converter.convertImage(source(stem + QStringLiteral(".jpeg")), QStringLiteral("png"), record);
    converter.convertVideo(source(stem + QStringLiteral(".mov"), "x"), record);
    scheduler().drain();
    ASSERT_EQ(results.size(), 2u);
    ASSERT_TRUE(results[0] && results[1]);
    EXPECT_EQ(QFileInfo(results[0]->toLocalFile()).fileName(), stem + QStringLiteral(".png"));
    EXPECT_EQ(QFileInfo(results[1]->toLocalFile()).fileName(), stem.left(120) + QStringLiteral("_converted.mp4"));
    EXPECT_EQ(QDir(temp.path() + QStringLiteral("/out")).entryList(QDir::Files | QDir::Hidden).size(), 2);
}

TEST_F(FileConverterTest, StalePartsOfEndedRunsGoAtStartAndNothingElse) {
    const QString out = temp.path() + QStringLiteral("/out");
    ASSERT_TRUE(QDir().mkpath(out));
    QFile::setPermissions(out, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    const QString ownPid = QString::number(::getpid());
    const QStringList stale{QStringLiteral(".clip_converted.mp4.999999999-1.part"), QStringLiteral(".a.png.2147483646-7.part")};
    const QStringList kept{QStringLiteral(".b.png.") + ownPid + QStringLiteral("-1.part"),  // a conversion of ours
                           QStringLiteral(".c.png.1-1.part"),                                // a live process's
                           QStringLiteral("d.png"), QStringLiteral(".e.part"), QStringLiteral("f.999999999-1.part")};
    for (const QString& name : stale + kept) ASSERT_TRUE(testsupport::writeFile(out + QLatin1Char('/') + name, "x"));
    FileConverterService converter = make();
    converter.removeStaleParts();
    scheduler().drain();
    QStringList expected = kept;
    expected.sort();
    EXPECT_EQ(QDir(out).entryList(QDir::Files | QDir::Hidden, QDir::Name), expected);
}

TEST_F(FileConverterTest, TheDefaultOutputFolderIsThePrivateOne) {
    QTemporaryDir runtime;
    ::chmod(QFile::encodeName(runtime.path()).constData(), 0700);
    testsupport::ScopedEnvironment env;
    env.set("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    FileConverterService converter(launcher, scheduler());
    EXPECT_EQ(converter.outputDirectory(), runtime.path() + QStringLiteral("/quillvex-converted"));
    converter.convertVideo(source(QStringLiteral("clip.mov"), "x"), record);
    scheduler().drain();
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0], QUrl::fromLocalFile(runtime.path() + QStringLiteral("/quillvex-converted/clip_converted.mp4")));
}

TEST_F(FileConverterTest, OnlyTheLastExtensionGoes) {
    EXPECT_EQ(FileConverterService::baseName(QStringLiteral("/a/archive.tar.gz")), QStringLiteral("archive.tar"));
    EXPECT_EQ(FileConverterService::baseName(QStringLiteral("/a/holiday.jpeg")), QStringLiteral("holiday"));
    EXPECT_EQ(FileConverterService::baseName(QStringLiteral("/a/README")), QStringLiteral("README"));
    EXPECT_EQ(FileConverterService::baseName(QStringLiteral("/a/.hidden")), QStringLiteral(".hidden"));
}

TEST_F(FileConverterTest, TheToolFailingGivesNoneEvenWithAFileAtTheOutputPath) {
    FileConverterService converter = make();
    const QString earlier = temp.path() + QStringLiteral("/out/holiday.png");
    testsupport::writeFile(earlier, "earlier");
    exitCode = 1;  // writes its output and still fails
    converter.convertImage(source(QStringLiteral("holiday.jpeg")), QStringLiteral("png"), record);
    scheduler().drain();
    ASSERT_EQ(results.size(), 1u);
    EXPECT_FALSE(results[0].has_value());
    // The half-made output is gone; the earlier file is untouched.
    QFile file(earlier);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray("earlier"));
    EXPECT_EQ(QDir(temp.path() + QStringLiteral("/out")).entryList(QDir::Files | QDir::Hidden).size(), 1);
}

TEST_F(FileConverterTest, SuccessWithoutAnOutputOrATimeoutGivesNone) {
    FileConverterService converter = make();
    toolWrites = false;
    converter.convertImage(source(QStringLiteral("a.jpeg")), QStringLiteral("png"), record);
    scheduler().drain();
    launcher.onRun = [](const platform::ProcessSpec& spec, double) {
        testsupport::writeFile(outputOf(spec), "partial");
        platform::ProcessResult result;
        result.status = platform::ProcessResult::Status::TimedOut;
        return result;
    };
    converter.convertVideo(source(QStringLiteral("clip.mov"), "x"), record);
    scheduler().drain();
    ASSERT_EQ(results.size(), 2u);
    EXPECT_FALSE(results[0].has_value());
    EXPECT_FALSE(results[1].has_value());
    EXPECT_EQ(launcher.runs()[1].timeoutSeconds, 1800);
    EXPECT_TRUE(QDir(temp.path() + QStringLiteral("/out")).entryList(QDir::Files | QDir::Hidden).isEmpty());
}

TEST_F(FileConverterTest, WhatCannotStartCompletesAtOnceWithoutRunningATool) {
    FileConverterService converter = make();
    converter.convertImage(source(QStringLiteral("notes.svg"), "<svg xmlns='http://www.w3.org/2000/svg'/>"),
                           QStringLiteral("png"), record);
    converter.convertImage(QUrl(QStringLiteral("https://example.com/a.png")), QStringLiteral("png"), record);
    converter.convertImage(source(QStringLiteral("b.jpeg")), QStringLiteral("png;rm"), record);
    converter.convertImage(QUrl::fromLocalFile(sources.path() + QStringLiteral("/gone.jpeg")), QStringLiteral("png"), record);
    converter.convertVideo(QUrl(QStringLiteral("https://example.com/a.mov")), record);
    EXPECT_EQ(results.size(), 3u);  // at once, on the calling thread: nothing of the file is read there
    scheduler().drain();
    ASSERT_EQ(results.size(), 5u);
    for (const auto& result : results) EXPECT_FALSE(result.has_value());
    EXPECT_TRUE(launcher.runs().empty());
}

TEST_F(FileConverterTest, ContentDecidesTheCoder) {
    EXPECT_EQ(FileConverterService::imageCoder(QByteArray("\x89PNG\r\n\x1a\n....", 12)), QStringLiteral("PNG"));
    EXPECT_EQ(FileConverterService::imageCoder(kJpegHead), QStringLiteral("JPEG"));
    EXPECT_EQ(FileConverterService::imageCoder("GIF89a......"), QStringLiteral("GIF"));
    EXPECT_EQ(FileConverterService::imageCoder(QByteArray("RIFF\x10\0\0\0WEBPVP8 ", 16)), QStringLiteral("WEBP"));
    EXPECT_EQ(FileConverterService::imageCoder(QByteArray("II*\0\x08\0\0\0", 8)), QStringLiteral("TIFF"));
    EXPECT_EQ(FileConverterService::imageCoder(QByteArray("\0\0\0\x18" "ftypheic\0\0\0\0", 16)), QStringLiteral("HEIC"));
    EXPECT_EQ(FileConverterService::imageCoder(QByteArray("\0\0\0\x18" "ftypisom\0\0\0\0", 16)), QString());
    EXPECT_EQ(FileConverterService::imageCoder("push graphic-context\n"), QString());  // MVG script
    EXPECT_EQ(FileConverterService::imageCoder("%!PS-Adobe-3.0"), QString());
}

TEST_F(FileConverterTest, SameBaseNamesTogetherGetDistinctOutputsAndALaterRunReplaces) {
    FileConverterService converter = make();
    converter.convertImage(source(QStringLiteral("photo.heic"), QByteArray("\0\0\0\x18" "ftypheic\0\0\0\0", 16)),
                           QStringLiteral("png"), record);
    converter.convertImage(source(QStringLiteral("photo.jpeg")), QStringLiteral("png"), record);
    scheduler().drain();
    ASSERT_EQ(results.size(), 2u);
    EXPECT_EQ(results[0], QUrl::fromLocalFile(temp.path() + QStringLiteral("/out/photo.png")));
    EXPECT_EQ(results[1], QUrl::fromLocalFile(temp.path() + QStringLiteral("/out/photo-2.png")));

    // Once those are done the name is free again: converting anew replaces the earlier output.
    converter.convertVideo(source(QStringLiteral("clip.mov"), "x"), record);
    scheduler().drain();
    converter.convertVideo(source(QStringLiteral("clip.mov"), "x"), record);
    scheduler().drain();
    EXPECT_EQ(results[2], QUrl::fromLocalFile(temp.path() + QStringLiteral("/out/clip_converted.mp4")));
    EXPECT_EQ(results[3], results[2]);
}

TEST_F(FileConverterTest, ConversionsBeyondTheCapWaitTheirTurn) {
    FileConverterService converter = make(2);
    for (const char* name : {"a.mov", "b.mov", "c.mov", "d.mov"}) converter.convertVideo(source(QString::fromLatin1(name), "x"), record);
    EXPECT_EQ(converter.runningCount(), 2);
    EXPECT_EQ(converter.queuedCount(), 2);
    scheduler().drain();
    EXPECT_EQ(results.size(), 4u);
    EXPECT_EQ(converter.runningCount(), 0);
    EXPECT_EQ(launcher.runs().size(), 4u);
}

TEST_F(FileConverterTest, VideoCommandLineIsHardened) {
    FileConverterService converter = make();
    converter.convertVideo(source(QStringLiteral("clip.mov"), "x"), record);
    scheduler().drain();
    const platform::ProcessSpec& spec = launcher.runs().at(0).spec;
    EXPECT_EQ(spec.program, QStringLiteral("/usr/bin/ffmpeg"));
    const QStringList& a = spec.arguments;
    EXPECT_EQ(a.front(), QStringLiteral("-nostdin"));
    EXPECT_EQ(a.at(a.indexOf(QStringLiteral("-protocol_whitelist")) + 1), QStringLiteral("file"));
    EXPECT_TRUE(a.contains(QStringLiteral("-format_whitelist")));
    EXPECT_EQ(a.at(a.indexOf(QStringLiteral("-i")) + 1), QStringLiteral("file:") + sources.path() + QStringLiteral("/clip.mov"));
    EXPECT_EQ(a.at(a.indexOf(QStringLiteral("-c:v")) + 1), QStringLiteral("libx264"));
    EXPECT_EQ(a.at(a.indexOf(QStringLiteral("-c:a")) + 1), QStringLiteral("aac"));
    EXPECT_EQ(a.at(a.indexOf(QStringLiteral("-f")) + 1), QStringLiteral("mp4"));
    // Output of the tool is drained (merged and capped), never left in a pipe nobody reads.
    EXPECT_EQ(spec.standardError, platform::ProcessSpec::Stderr::MergeWithStdout);
}

TEST_F(FileConverterTest, OutputFolderIsPrivateAndAPlantedLinkIsRefused) {
    FileConverterService converter = make();
    converter.convertVideo(source(QStringLiteral("clip.mov"), "x"), record);
    scheduler().drain();
    struct stat info {};
    ASSERT_EQ(::lstat(QFile::encodeName(temp.path() + QStringLiteral("/out")).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);

    // Someone else's link in the temporary folder where ours would be.
    QDir().mkdir(temp.path() + QStringLiteral("/elsewhere"));
    ASSERT_TRUE(QFile::link(temp.path() + QStringLiteral("/elsewhere"), temp.path() + QStringLiteral("/linked")));
    FileConverterService::Config config;
    config.outputDirectory = temp.path() + QStringLiteral("/linked");
    FileConverterService planted(launcher, scheduler(), config);
    results.clear();
    planted.convertVideo(source(QStringLiteral("clip.mov"), "x"), record);
    scheduler().drain();
    ASSERT_EQ(results.size(), 1u);
    EXPECT_FALSE(results[0].has_value());
    EXPECT_TRUE(QDir(temp.path() + QStringLiteral("/elsewhere")).isEmpty());
}

// The real tools, where installed.
class RealToolConversionTest : public FileConverterTest {
protected:
    FileConverterService makeReal() {
        FileConverterService::Config config;
        config.outputDirectory = temp.path() + QStringLiteral("/out");
        return FileConverterService(platform::ProcessLauncher::system(), scheduler(), config);
    }
};

TEST_F(RealToolConversionTest, JpegBecomesPngAndAnAnimationItsFirstFrame) {
    if (!QFile::exists(QStringLiteral("/usr/bin/convert"))) QUILLVEX_SERVICE_MISSING("ImageMagick is not installed");
    FileConverterService converter = makeReal();
    QImage picture(64, 48, QImage::Format_RGB32);
    picture.fill(Qt::red);
    const QString jpeg = sources.path() + QStringLiteral("/holiday.jpeg");
    ASSERT_TRUE(picture.save(jpeg, "JPEG"));
    converter.convertImage(QUrl::fromLocalFile(jpeg), QStringLiteral("png"), record);

    // A three-frame GIF, made by the tool itself from three small pictures.
    QStringList frames;
    for (int i = 0; i < 3; ++i) {
        frames << sources.path() + QStringLiteral("/f%1.png").arg(i);
        picture.fill(QColor::fromHsv(i * 100, 255, 255));
        ASSERT_TRUE(picture.save(frames.back(), "PNG"));
    }
    const QString gif = sources.path() + QStringLiteral("/moving.gif");
    ASSERT_EQ(testsupport::runTool(QStringLiteral("/usr/bin/convert"), QStringList(frames) << gif), 0);
    converter.convertImage(QUrl::fromLocalFile(gif), QStringLiteral("png"), record);
    // Frame syntax in a name is the user's text, not an instruction to the tool.
    const QString odd = sources.path() + QStringLiteral("/50%d off[1].jpeg");
    ASSERT_TRUE(QFile::copy(jpeg, odd));
    converter.convertImage(QUrl::fromLocalFile(odd), QStringLiteral("png"), record);
    scheduler().drain();

    ASSERT_EQ(results.size(), 3u);
    EXPECT_EQ(results[2], QUrl::fromLocalFile(temp.path() + QStringLiteral("/out/50%d off[1].png")));
    ASSERT_TRUE(results[0].has_value());
    QImage converted(results[0]->toLocalFile());
    EXPECT_EQ(converted.size(), QSize(64, 48));
    EXPECT_TRUE(results[0]->toLocalFile().endsWith(QStringLiteral("/holiday.png")));
    ASSERT_TRUE(results[1].has_value());
    EXPECT_TRUE(QFile::exists(temp.path() + QStringLiteral("/out/moving.png")));
    EXPECT_FALSE(QFile::exists(temp.path() + QStringLiteral("/out/moving-0.png")));

    // The private policy refuses every other coder, even when one is asked for by name.
    const QString ppm = sources.path() + QStringLiteral("/x.ppm");
    testsupport::writeFile(ppm, "P3\n1 1\n255\n0 0 0\n");
    platform::ProcessSpec spec;
    spec.program = QStringLiteral("/usr/bin/env");
    spec.arguments = converter.imageArguments(QStringLiteral("PPM"), ppm, QStringLiteral("png"), sources.path() + QStringLiteral("/x.png"));
    EXPECT_FALSE(platform::ProcessLauncher::system().run(spec, 20).succeeded());
    EXPECT_FALSE(QFile::exists(sources.path() + QStringLiteral("/x.png")));
}

TEST_F(RealToolConversionTest, MovBecomesMp4) {
    if (!QFile::exists(QStringLiteral("/usr/bin/ffmpeg"))) QUILLVEX_SERVICE_MISSING("ffmpeg is not installed");
    const QString mov = sources.path() + QStringLiteral("/clip.mov");
    ASSERT_EQ(testsupport::runTool(QStringLiteral("/usr/bin/ffmpeg"),
                                   {QStringLiteral("-nostdin"), QStringLiteral("-loglevel"), QStringLiteral("error"),
                                    QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                                    QStringLiteral("testsrc=size=64x48:rate=10:duration=0.5"), QStringLiteral("-f"),
                                    QStringLiteral("lavfi"), QStringLiteral("-i"), QStringLiteral("sine=duration=0.5"),
                                    QStringLiteral("-c:v"), QStringLiteral("mpeg4"), QStringLiteral("-c:a"),
                                    QStringLiteral("pcm_s16le"), mov},
                                   nullptr, std::chrono::seconds(20)),
              0);
    FileConverterService converter = makeReal();
    converter.convertVideo(QUrl::fromLocalFile(mov), record);
    // Not media at all: the format whitelist turns it away.
    converter.convertVideo(source(QStringLiteral("list.mov"), "file '/etc/passwd'\n"), record);
    scheduler().drain();
    ASSERT_EQ(results.size(), 2u);
    ASSERT_TRUE(results[0].has_value());
    EXPECT_EQ(*results[0], QUrl::fromLocalFile(temp.path() + QStringLiteral("/out/clip_converted.mp4")));
    QFile out(results[0]->toLocalFile());
    ASSERT_TRUE(out.open(QIODevice::ReadOnly));
    EXPECT_EQ(out.read(12).mid(4, 4), QByteArray("ftyp"));
    EXPECT_FALSE(results[1].has_value());
}

}  // namespace
