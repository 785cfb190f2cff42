#pragma once

#include "platform/storage/defaults.h"
#include "support/virtual_scheduler.h"
#include "support/log_capture.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QString>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace testsupport {

// Installs a virtual scheduler as the shared one for its lifetime.
class ScopedVirtualScheduler {
public:
    ScopedVirtualScheduler() : previous_(platform::Scheduler::setShared(&scheduler)) {}
    ~ScopedVirtualScheduler() { platform::Scheduler::setShared(previous_); }
    platform::VirtualScheduler scheduler;

private:
    platform::Scheduler* previous_;
};

// Installs an in-memory standard defaults domain for its lifetime.
class ScopedMemoryDefaults {
public:
    ScopedMemoryDefaults() : previous_(platform::Defaults::setStandard(&defaults)) {}
    ~ScopedMemoryDefaults() { platform::Defaults::setStandard(previous_); }
    platform::Defaults defaults;

private:
    platform::Defaults* previous_;
};

// Points HOME and XDG_CONFIG_HOME at a fresh temporary folder for its lifetime.
class ScopedTempHome {
public:
    ScopedTempHome();
    ~ScopedTempHome();
    QString path() const { return dir_.path(); }
    QString configPath() const { return dir_.path() + QStringLiteral("/.config"); }

private:
    QTemporaryDir dir_;
    QByteArray oldHome_;
    QByteArray oldXdg_;
    bool hadXdg_;
};

// Writes `bytes` to `path`, creating its folder first; false when the file cannot be written.
inline bool writeFile(const QString& path, const QByteArray& bytes = {}) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// The usual test base: virtual time, in-memory defaults and a log capture.
class QuillvexTest : public ::testing::Test {
protected:
    ScopedVirtualScheduler clock;
    ScopedMemoryDefaults memoryDefaults;
    LogCapture log;

    platform::VirtualScheduler& scheduler() { return clock.scheduler; }
    platform::Defaults& defaults() { return memoryDefaults.defaults; }
};

}  // namespace testsupport
