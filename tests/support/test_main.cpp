#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>

// LeakSanitizer's tracer crashes now and then under load, and Qt's font and platform caches are
// reported as leaks at exit; the address and undefined-behaviour checks stay on.
extern "C" const char* __asan_default_options() { return "detect_leaks=0"; }

int main(int argc, char** argv) {
    // Tests never need a display; CTest sets this too, but a hand-run binary should work as well.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    // A runtime folder of the run's own: what the code keeps there (private files, sockets) never
    // lands in the user's real one or, without one, in the real home's cache.
    QTemporaryDir runtime;
    if (runtime.isValid()) qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
