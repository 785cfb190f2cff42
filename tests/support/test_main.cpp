#include "platform/workspace/icon_lookup.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <optional>

// Leaks of our own code fail the run; lsan.supp lists the libraries' own, each with its reason.
// Children (helpers, the application) inherit the same suppressions through LSAN_OPTIONS.
#define QUILLVEX_LSAN_OPTIONS "suppressions=" QUILLVEX_TEST_SUPPORT_DIR "/lsan.supp:print_suppressions=0"
extern "C" const char* __lsan_default_options() { return QUILLVEX_LSAN_OPTIONS; }

namespace {

// Every test process gets a home and XDG folders of its own, so that what libraries write on
// their own (Qt's file dialog settings, PulseAudio's cookie, dconf's cache) never reaches the
// real ones, and no bus is reached or autolaunched unless a test starts a private one.
void usePrivateHome(const QString& root) {
    const std::pair<const char*, const char*> folders[] = {
        {"HOME", ""},
        {"XDG_CONFIG_HOME", "/.config"},
        {"XDG_DATA_HOME", "/.local/share"},
        {"XDG_STATE_HOME", "/.local/state"},
        {"XDG_CACHE_HOME", "/.cache"},
        {"XDG_RUNTIME_DIR", "/run"},
    };
    for (const auto& [name, suffix] : folders) {
        const QString path = root + QString::fromLatin1(suffix);
        QDir().mkpath(path);
        qputenv(name, QFile::encodeName(path));
    }
    ::chmod(QFile::encodeName(root + QStringLiteral("/run")).constData(), 0700);
    const QByteArray noBus = "unix:path=" + QFile::encodeName(root) + "/no-bus";
    qputenv("DBUS_SESSION_BUS_ADDRESS", noBus);
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", noBus);
    qputenv("GSETTINGS_BACKEND", "memory");
    if (qEnvironmentVariableIsEmpty("LSAN_OPTIONS")) qputenv("LSAN_OPTIONS", QUILLVEX_LSAN_OPTIONS);
}

// Every test process mounts in a namespace of its own, where the machine lets it: a FUSE mount
// another test makes or takes down meanwhile is no change of this one's mount table, which icon
// and entry lookups follow. Before any thread starts: a namespace is a thread's own.
void usePrivateMounts() {
    if (::unshare(CLONE_NEWNS) == 0) ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
    usePrivateMounts();
    // Tests never need a display; CTest sets this too, but a hand-run binary should work as well.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    // A death test's child runs this binary again: it keeps the folders of the run that started it.
    const bool deathTestChild = std::any_of(argv, argv + argc, [](const char* argument) {
        return std::strncmp(argument, "--gtest_internal_run_death_test", 31) == 0;
    });
    std::optional<QTemporaryDir> home;
    if (!deathTestChild) {
        home.emplace();
        if (!home->isValid()) return 2;
        usePrivateHome(home->path());
    }
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    // Icons are still looked up on threads of their own, but a lookup's caller sees its outcome
    // at once, and a change of the icon folders at the next lookup; the tests of the waiting turn
    // this off.
    platform::IconLookup::shared().setAwaitAnswers(std::chrono::seconds(20));
    platform::IconLookup::shared().setRecheckInterval(std::chrono::milliseconds(0));
    return RUN_ALL_TESTS();
}
