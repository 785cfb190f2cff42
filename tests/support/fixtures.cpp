#include "support/fixtures.h"

#include <QDir>

namespace testsupport {

ScopedTempHome::ScopedTempHome()
    : oldHome_(qgetenv("HOME")), oldXdg_(qgetenv("XDG_CONFIG_HOME")), hadXdg_(qEnvironmentVariableIsSet("XDG_CONFIG_HOME")) {
    qputenv("HOME", dir_.path().toUtf8());
    QDir(dir_.path()).mkpath(QStringLiteral(".config"));
    qputenv("XDG_CONFIG_HOME", configPath().toUtf8());
}

ScopedTempHome::~ScopedTempHome() {
    qputenv("HOME", oldHome_);
    if (hadXdg_)
        qputenv("XDG_CONFIG_HOME", oldXdg_);
    else
        qunsetenv("XDG_CONFIG_HOME");
}

}  // namespace testsupport
