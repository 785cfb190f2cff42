// What the recorder keeps of the icon a notification's sender names, and which application a
// portal call's sender belongs to: hostile icons and process files give nothing, never a hang,
// crash or large allocation.

#include "platform/notification_store/sender_application.h"
#include "platform/notification_store/sender_icon.h"

#include "icon_fixtures.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QUrl>

#include <sys/stat.h>

#include <gtest/gtest.h>

namespace {

using platform::IconSource;
using platform::resolveSenderIcon;

using icontest::claimedHugePng;
using icontest::encoded;
using icontest::solid;

IconSource source(IconSource::Kind kind, const QString& text = {}, const QByteArray& bytes = {}) {
    IconSource s;
    s.kind = kind;
    s.text = text;
    s.bytes = bytes;
    return s;
}

IconSource pixels(qint64 width, qint64 height, qint64 rowstride, bool alpha, const QByteArray& data,
                  qint64 bits = 8) {
    IconSource s;
    s.kind = IconSource::Kind::pixels;
    s.pixels = {width, height, rowstride, alpha, bits, alpha ? 4 : 3, data};
    return s;
}

QImage storedImage(const platform::StoredIcon& icon) { return QImage::fromData(icon.png, "PNG"); }

class SenderIconTest : public ::testing::Test {
protected:
    QString write(const QString& name, const QByteArray& bytes) {
        QFile file(dir.filePath(name));
        file.open(QIODevice::WriteOnly);
        file.write(bytes);
        return file.fileName();
    }
    QTemporaryDir dir;
};

}  // namespace

TEST_F(SenderIconTest, NamesFilesBytesAndPixelsBecomeAThemedNameOrASmallPng) {
    // A themed name is kept as it is; the first usable source wins.
    auto icon = resolveSenderIcon({source(IconSource::Kind::nameOrFile, "mail-unread")});
    EXPECT_EQ(icon.themedName, "mail-unread");
    EXPECT_TRUE(icon.png.isEmpty());

    // A large file, by path or file URL, is reduced to the stored size; a small one stays small.
    const QString large = write("large.png", encoded(solid(512, 256, QColor(20, 200, 40))));
    for (const QString& text : {large, QUrl::fromLocalFile(large).toString()}) {
        const QImage image = storedImage(resolveSenderIcon({source(IconSource::Kind::nameOrFile, text)}));
        EXPECT_EQ(image.size(), QSize(128, 64)) << text.toStdString();
        EXPECT_EQ(image.pixelColor(10, 10), QColor(20, 200, 40));
    }
    const QString small = write("small.jpg", encoded(solid(40, 30), "JPG"));
    EXPECT_EQ(storedImage(resolveSenderIcon({source(IconSource::Kind::file, small)})).size(), QSize(40, 30));

    // Image bytes (a GIcon's "bytes"), and SVG drawn at the stored size.
    EXPECT_EQ(storedImage(resolveSenderIcon({source(IconSource::Kind::imageBytes, {}, encoded(solid(64, 64)))})).size(),
              QSize(64, 64));
    const QByteArray svg = "<svg xmlns='http://www.w3.org/2000/svg' width='1000' height='500'>"
                           "<rect width='1000' height='500' fill='#1e3cc8'/></svg>";
    EXPECT_EQ(storedImage(resolveSenderIcon({source(IconSource::Kind::imageBytes, {}, svg)})).size(), QSize(128, 64));

    // Raw pixels: RGB with a padded stride and a short last row (as GdkPixbuf sends them), RGBA.
    QByteArray rgb;
    for (int y = 0; y < 3; ++y) rgb += QByteArray("\x10\x20\x30\x10\x20\x30", 6) + (y < 2 ? QByteArray(2, '\0') : "");
    const QImage fromRgb = storedImage(resolveSenderIcon({pixels(2, 3, 8, false, rgb)}));
    ASSERT_EQ(fromRgb.size(), QSize(2, 3));
    EXPECT_EQ(fromRgb.pixelColor(1, 2), QColor(0x10, 0x20, 0x30));
    const QImage fromRgba = storedImage(resolveSenderIcon({pixels(300, 2, 1200, true, QByteArray(2400, '\x7f'))}));
    EXPECT_EQ(fromRgba.size(), QSize(128, 1));
}

TEST_F(SenderIconTest, HostileIconsGiveNothingAndTheNextSourceIsTried) {
    const QString fifo = dir.filePath("fifo");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QString huge = write("huge.png", claimedHugePng(30000));
    const QString tooManyBytes = write("big.png", QByteArray(platform::sendericon::maxSourceBytes + 1, 'x'));
    const QString notAnImage = write("text.png", "hello");
    const std::vector<IconSource> hostile = {
        source(IconSource::Kind::file, fifo),  // would block a plain read forever
        source(IconSource::Kind::file, "/dev/zero"),  // never ends
        source(IconSource::Kind::file, dir.path()),
        source(IconSource::Kind::file, huge),
        source(IconSource::Kind::imageBytes, {}, claimedHugePng(30000)),
        source(IconSource::Kind::imageBytes, {}, claimedHugePng(3000)),  // within the side, beyond the pixels
        source(IconSource::Kind::file, tooManyBytes),
        source(IconSource::Kind::file, notAnImage),
        source(IconSource::Kind::nameOrFile, "relative/path.png"),
        source(IconSource::Kind::nameOrFile, "http://example.com/icon.png"),
        source(IconSource::Kind::nameOrFile, "file://otherhost/icon.png"),
        source(IconSource::Kind::nameOrFile, ".hidden"),
        source(IconSource::Kind::nameOrFile, QString(300, 'a')),
        source(IconSource::Kind::nameOrFile, "bad\nname"),
        source(IconSource::Kind::file, "mail-unread"),  // a file source is never a name
        // Pixels that lie about their size, or come in a layout the hint never uses.
        pixels(30000, 30000, 120000, true, QByteArray(16, '\0')),
        pixels(64, 64, 256, true, QByteArray(64 * 256 - 1, '\0')),
        pixels(64, 64, 100, true, QByteArray(64 * 256, '\0')),
        pixels(-1, 64, 256, true, QByteArray(64 * 256, '\0')),
        pixels(64, 64, 256, true, QByteArray(64 * 256, '\0'), 16),
    };
    for (size_t i = 0; i < hostile.size(); ++i) EXPECT_TRUE(resolveSenderIcon({hostile[i]}).isEmpty()) << i;

    std::vector<IconSource> thenAName = hostile;
    thenAName.push_back(source(IconSource::Kind::nameOrFile, "mail-unread"));
    EXPECT_EQ(resolveSenderIcon(thenAName).themedName, "mail-unread");
}

TEST(SenderApplication, FoundAsThePortalFindsItWithTheProcessNameLast) {
    QTemporaryDir proc;
    auto put = [&](const QString& relative, const QByteArray& bytes) {
        const QString path = proc.filePath(relative);
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write(bytes);
    };
    put("10/root/.flatpak-info", "[Instance]\nname=nope\n[Application]\nname=org.example.Sandboxed\nruntime=x\n");
    put("10/cgroup", "0::/user.slice/app-gnome-org.gnome.Terminal-42.scope\n");
    put("11/cgroup", "12:pids:/\n0::/user.slice/user@1000.service/app.slice/app-gnome-org.gnome.Terminal-4242.scope\n");
    put("11/comm", "bash\n");
    put("12/cgroup", "0::/user.slice/user@1000.service/app.slice/snap.firefox.firefox-1234.scope\n");
    put("13/cgroup", "0::/user.slice/session-2.scope\n");
    put("13/comm", "python3\n");
    put("14/comm", "");
    ASSERT_EQ(::mkfifo(QFile::encodeName(proc.filePath("14/cgroup")).constData(), 0600), 0);
    QDir().mkpath(proc.filePath("14/root"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(proc.filePath("14/root/.flatpak-info")).constData(), 0600), 0);

    EXPECT_EQ(platform::applicationOfProcess(10, proc.path()), "org.example.Sandboxed");
    EXPECT_EQ(platform::applicationOfProcess(11, proc.path()), "org.gnome.Terminal");
    EXPECT_EQ(platform::applicationOfProcess(12, proc.path()), "firefox");
    EXPECT_EQ(platform::applicationOfProcess(13, proc.path()), "python3");
    EXPECT_EQ(platform::applicationOfProcess(14, proc.path()), "");  // pipes are never read
    EXPECT_EQ(platform::applicationOfProcess(15, proc.path()), "");  // the process has gone
    EXPECT_EQ(platform::applicationOfProcess(0, proc.path()), "");

    EXPECT_EQ(platform::applicationOfUnit("app-org.kde.konsole@0b1c.service"), "org.kde.konsole");
    EXPECT_EQ(platform::applicationOfUnit("app-gnome-org.example.My\\x2dApp-77.scope"), "org.example.My-App");
    EXPECT_EQ(platform::applicationOfUnit("app-firefox-12.scope"), "firefox");
    EXPECT_EQ(platform::applicationOfUnit("app.slice"), "");
    EXPECT_EQ(platform::applicationOfUnit("app-.scope"), "");
    EXPECT_EQ(platform::applicationOfUnit("session-2.scope"), "");
}
