// The install script run for real by /bin/bash, on bundles in a temporary folder.
#include "updater/install_script.h"

#include "platform/process/child_process.h"
#include "support/loopback_http_server.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <unistd.h>

namespace {

constexpr uid_t nobody = 65534;

class InstallScriptTest : public ::testing::Test {
protected:
    InstallScriptTest() {
        QFile::setPermissions(root.path(), QFileDevice::Permissions(0x7755));
        markers = path("markers");
        QDir().mkpath(markers);
        ::chmod(QFile::encodeName(markers).constData(), 0777);
    }

    QString path(const QString& relative) const { return root.filePath(relative); }

    // A bundle whose executable appends `tag` to the relaunch log when started.
    // With `stays`, the application keeps running (its pid in the markers folder) as a real one would.
    void makeBundle(const QString& bundle, const QString& tag, bool stays = false) {
        QDir().mkpath(bundle + "/Contents/MacOS");
        QDir().mkpath(bundle + "/Contents/Resources");
        writeText(bundle + "/Contents/Info.plist", "plist " + tag);
        const QString executable = bundle + "/Contents/MacOS/Quillvex";
        QString body = "#!/bin/bash\necho " + tag + " >> '" + relaunchLog() + "'\n";
        if (stays) body += "echo $$ > '" + markers + "/pid'\nexec /bin/sleep 60\n";
        writeText(executable, body);
        QFile::setPermissions(executable, QFileDevice::Permissions(0x7755));
        ::symlink("../Info.plist", QFile::encodeName(bundle + "/Contents/Resources/Info").constData());
    }
    static void writeText(const QString& file, const QString& text) {
        QFile out(file);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(text.toUtf8());
    }
    static QString readText(const QString& file) {
        QFile in(file);
        return in.open(QIODevice::ReadOnly) ? QString::fromUtf8(in.readAll()) : QString();
    }
    QString relaunchLog() const { return markers + "/relaunched"; }
    bool waitForRelaunch() {
        return testsupport::spinUntil([this] { return readText(relaunchLog()).endsWith('\n'); }, 10.0);
    }

    // The script as the updater writes it, with `edits` (from, to) applied for the test.
    QString writeScript(const std::vector<std::pair<QString, QString>>& edits = {}) {
        const std::optional<QString> script = InstallScript::write(path("updater"));
        EXPECT_TRUE(script);
        if (!edits.empty()) {
            QString text = InstallScript::text();
            for (const auto& [from, to] : edits) {
                EXPECT_TRUE(text.contains(from));
                text.replace(from, to);
            }
            writeText(*script, text);
        }
        return *script;
    }

    // A pid that is no longer in use: a child that has ended and been reaped.
    static QString endedPid() {
        std::unique_ptr<platform::ChildProcess> child =
            platform::ProcessLauncher::system().start(platform::ProcessSpec{"/bin/true", {}, {}, {}});
        EXPECT_TRUE(child);
        const long long pid = child->pid();
        EXPECT_EQ(child->wait(5.0), 0);
        return QString::number(pid);
    }

    platform::ProcessResult run(const QString& script, const QStringList& arguments, const QStringList& prefix = {}) {
        platform::ProcessSpec spec;
        spec.program = prefix.isEmpty() ? QStringLiteral("/usr/bin/env") : prefix.front();
        spec.arguments = prefix.mid(1);
        if (!prefix.isEmpty()) spec.arguments << "/usr/bin/env";
        spec.arguments << "-i" << "PATH=/usr/bin:/bin" << "/bin/bash" << script << arguments;
        spec.standardError = platform::ProcessSpec::Stderr::MergeWithStdout;
        return platform::ProcessLauncher::system().run(spec, 20.0);
    }

    QTemporaryDir root;
    QString markers;
};

TEST_F(InstallScriptTest, ReplacesABundleWhosePathHasASpaceAndAnApostrophe) {
    const QString target = path("My Apps/Bob's Quillvex.app");
    const QString extracted = path("work 1/Extracted/Release/Quillvex.app");
    makeBundle(target, "old");
    makeBundle(extracted, "new", true);
    makeBundle(target + ".updating", "leftover");  // an earlier failed attempt
    const QString script = writeScript();

    // The script ends while the new version it started runs on.
    const platform::ProcessResult result = run(script, {target, extracted, endedPid()});
    EXPECT_TRUE(result.succeeded()) << result.standardOutput.toStdString();
    ASSERT_TRUE(waitForRelaunch());
    ASSERT_TRUE(testsupport::spinUntil([this] { return readText(markers + "/pid").endsWith('\n'); }, 5.0));
    const pid_t relaunched = static_cast<pid_t>(readText(markers + "/pid").trimmed().toLongLong());
    EXPECT_EQ(::kill(relaunched, 0), 0);
    ::kill(relaunched, SIGKILL);
    EXPECT_EQ(readText(relaunchLog()), "new\n");
    EXPECT_EQ(readText(target + "/Contents/Info.plist"), "plist new");
    EXPECT_TRUE(QFileInfo(target + "/Contents/Resources/Info").isSymLink());  // links copied as links
    EXPECT_EQ(readText(target + "/Contents/Resources/Info"), "plist new");
    EXPECT_EQ(QDir(path("My Apps")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
              QStringList{"Bob's Quillvex.app"});  // no staging or old copy left beside it
    EXPECT_FALSE(QFileInfo::exists(path("work 1/Extracted/Release")));
    EXPECT_TRUE(QFileInfo::exists(path("work 1/Extracted")));  // only the bundle's own folder goes
    EXPECT_FALSE(QFileInfo::exists(script));
}

TEST_F(InstallScriptTest, ACopyFailureLeavesTheOldBundleInPlace) {
    const QString target = path("Apps/Quillvex.app");
    makeBundle(target, "old");
    const QString extracted = path("work/Extracted/Quillvex.app");  // missing: the copy fails
    QDir().mkpath(path("work/Extracted"));
    const QString script = writeScript();

    const platform::ProcessResult result = run(script, {target, extracted, endedPid()});
    EXPECT_EQ(result.status, platform::ProcessResult::Status::Exited);
    EXPECT_NE(result.exitCode, 0);
    EXPECT_EQ(readText(target + "/Contents/Info.plist"), "plist old");
    EXPECT_EQ(QDir(path("Apps")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList{"Quillvex.app"});
    EXPECT_TRUE(QFileInfo::exists(script));
    EXPECT_TRUE(QFileInfo::exists(path("work/Extracted")));
}

TEST_F(InstallScriptTest, ACancelledPrivilegePromptRelaunchesTheOldVersion) {
    // The bundle's folder is not writable for the user who runs the script.
    const QString target = path("System Apps/Quillvex.app");
    const QString extracted = path("work/Extracted/Quillvex.app");
    makeBundle(target, "old");
    makeBundle(extracted, "new");
    const QString fakePrompt = path("fake-pkexec");
    writeText(fakePrompt, "#!/bin/bash\nprintf '%s\\n' \"$@\" > '" + markers + "/prompt'\nexit 126\n");
    QFile::setPermissions(fakePrompt, QFileDevice::Permissions(0x7755));
    const QString script = writeScript({{"privilege_tool=\"/usr/bin/pkexec\"", "privilege_tool=\"" + fakePrompt + "\""}});

    QStringList prefix;
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(QFile::encodeName(script).constData(), nobody, nobody), 0);
        ASSERT_EQ(::chown(QFile::encodeName(path("updater")).constData(), nobody, nobody), 0);
        prefix = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
    } else {
        QFile::setPermissions(path("System Apps"), QFileDevice::Permissions(0x5555));
    }
    const platform::ProcessResult result = run(script, {target, extracted, endedPid()}, prefix);
    QFile::setPermissions(path("System Apps"), QFileDevice::Permissions(0x7755));
    EXPECT_EQ(result.exitCode, 1) << result.standardOutput.toStdString();
    EXPECT_EQ(readText(markers + "/prompt"),
              "/bin/bash\n" + script + "\n--perform-install\n" + target + "\n" + extracted + "\n");
    ASSERT_TRUE(waitForRelaunch());
    EXPECT_EQ(readText(relaunchLog()), "old\n");
    EXPECT_EQ(readText(target + "/Contents/Info.plist"), "plist old");
    EXPECT_TRUE(QFileInfo::exists(extracted));
    EXPECT_TRUE(QFileInfo::exists(script));
}

TEST_F(InstallScriptTest, AnAppThatNeverQuitsStopsTheScriptAtItsLimit) {
    const QString target = path("Apps/Quillvex.app");
    const QString extracted = path("work/Extracted/Quillvex.app");
    makeBundle(target, "old");
    makeBundle(extracted, "new");
    const QString script = writeScript({{"max_wait_polls=240", "max_wait_polls=2"}});
    std::unique_ptr<platform::ChildProcess> app =
        platform::ProcessLauncher::system().start(platform::ProcessSpec{"/bin/sleep", {"60"}, {}, {}});
    ASSERT_TRUE(app);

    const platform::ProcessResult result = run(script, {target, extracted, QString::number(app->pid())});
    EXPECT_EQ(result.exitCode, 3);
    EXPECT_TRUE(app->isRunning());
    EXPECT_EQ(readText(target + "/Contents/Info.plist"), "plist old");
    EXPECT_TRUE(QFileInfo::exists(extracted));
    EXPECT_FALSE(QFileInfo::exists(relaunchLog()));
    EXPECT_TRUE(QFileInfo::exists(script));

    // Nor does a process identifier that is not a number start anything.
    EXPECT_EQ(run(script, {target, extracted, "-1"}).exitCode, 2);
    EXPECT_EQ(readText(target + "/Contents/Info.plist"), "plist old");
}

}  // namespace
