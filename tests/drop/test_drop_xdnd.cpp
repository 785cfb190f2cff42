// A real drop between two processes on a private X server, driven with XTest through xdotool:
// the drag source in one process, the drop zone in another, which prints what reaches its bus.
#include "support/service_fixtures.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>

#ifdef QUILLVEX_DRAG_SOURCE

namespace {

class DropZoneXdndTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty()) return;
        x = testsupport::PrivateXServer::start(QStringLiteral("1280x800x24")).release();
    }
    static void TearDownTestSuite() {
        delete x;
        x = nullptr;
    }
    void SetUp() override {
        if (!x) QUILLVEX_SERVICE_MISSING("Xvfb or xdotool is not installed");
        ASSERT_TRUE(home.isValid());
    }

    int xdotool(const QStringList& arguments) {
        QStringList withDisplay = arguments;
        QString output;
        qputenv("DISPLAY", x->display().toLocal8Bit());
        return testsupport::runTool(QStringLiteral("xdotool"), withDisplay, &output);
    }

    std::unique_ptr<QProcess> start(const QString& program, const QStringList& arguments) {
        auto process = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("DISPLAY"), x->display());
        env.insert(QStringLiteral("HOME"), home.path());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path() + QStringLiteral("/.config"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home.path());
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("unix:path=/nonexistent/bus"));
        process->setProcessEnvironment(env);
        testsupport::dieWithTest(*process);
        process->start(program, arguments);
        EXPECT_TRUE(waitForLine(*process, "ready")) << program.toStdString();
        return process;
    }

    // Reads the process's output up to a line holding `text` (10 s at most).
    static bool waitForLine(QProcess& process, const QByteArray& text) {
        QDeadlineTimer deadline(10000);
        while (!deadline.hasExpired()) {
            while (process.canReadLine())
                if (process.readLine().contains(text)) return true;
            process.waitForReadyRead(100);
        }
        return false;
    }

    static void stop(QProcess& process) {
        process.kill();
        process.waitForFinished(5000);
    }

    static testsupport::PrivateXServer* x;
    QTemporaryDir home;
};

testsupport::PrivateXServer* DropZoneXdndTest::x = nullptr;

TEST_F(DropZoneXdndTest, AFileDroppedFromAnotherProcessReachesTheBusWithoutTheWebAddress) {
    auto zone = start(QStringLiteral(QUILLVEX_DROP_ZONE_HOST), {});
    auto source = start(QStringLiteral(QUILLVEX_DRAG_SOURCE),
                        {QStringLiteral("file:///etc/hostname"), QStringLiteral("https://example.com/")});
    ASSERT_EQ(xdotool({"mousemove", "100", "100", "mousedown", "1"}), 0);
    for (const char* step : {"300", "600", "700", "760", "770"}) xdotool({"mousemove", step, "90"});
    // Released before the source heard the zone accept, the drag would be cancelled.
    EXPECT_TRUE(waitForLine(*source, "accepted"));
    ASSERT_EQ(xdotool({"mouseup", "1"}), 0);

    QByteArray output;
    QDeadlineTimer deadline(10000);
    while (!output.contains('\n') && !deadline.hasExpired()) {
        zone->waitForReadyRead(100);
        output += zone->readAllStandardOutput();
        output.replace("ready\n", "");
    }
    EXPECT_EQ(output, QByteArray("bus: file:///etc/hostname\n"));
    stop(*source);
    stop(*zone);
}

}  // namespace

#endif
