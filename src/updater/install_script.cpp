#include "updater/install_script.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QUuid>

namespace {

// The old bundle is moved aside, never deleted before the new one stands in its place, and put
// back on any failure. Every tool is named by its full path: the environment is scrubbed.
constexpr char scriptText[] = R"SCRIPT(#!/bin/bash
set -euo pipefail

privilege_tool="/usr/bin/pkexec"
max_wait_polls=240

perform_install() {
    local target_app="$1"
    local extracted_app="$2"
    local staging_app="${target_app}.updating"
    local previous_app="${target_app}.previous"

    /bin/rm -rf -- "$staging_app"
    if ! /bin/cp -a -- "$extracted_app" "$staging_app"; then
        /bin/rm -rf -- "$staging_app"
        return 1
    fi
    /bin/rm -rf -- "$previous_app"
    if [ -e "$target_app" ] || [ -L "$target_app" ]; then
        if ! /bin/mv -- "$target_app" "$previous_app"; then
            /bin/rm -rf -- "$staging_app"
            return 1
        fi
    fi
    if ! /bin/mv -- "$staging_app" "$target_app"; then
        if [ -e "$previous_app" ]; then
            /bin/rm -rf -- "$target_app"
            /bin/mv -- "$previous_app" "$target_app"
        fi
        /bin/rm -rf -- "$staging_app"
        return 1
    fi
    /bin/rm -rf -- "$previous_app"
}

relaunch() {
    /usr/bin/setsid -f "$1/Contents/MacOS/Quillvex" </dev/null >/dev/null 2>&1
}

if [ "${1:-}" = "--perform-install" ]; then
    perform_install "$2" "$3"
    exit 0
fi

target_app="$1"
extracted_app="$2"
pid_to_wait="$3"

case "$pid_to_wait" in
    ''|*[!0-9]*) exit 2 ;;
esac

# A process that never ends leaves everything as it is.
polls=0
while /bin/kill -0 "$pid_to_wait" >/dev/null 2>&1; do
    if [ "$polls" -ge "$max_wait_polls" ]; then
        exit 3
    fi
    polls=$((polls + 1))
    /bin/sleep 0.5
done
/bin/sleep 1

install_dir="$(/usr/bin/dirname -- "$target_app")"

if [ -w "$install_dir" ]; then
    /bin/bash "$0" --perform-install "$target_app" "$extracted_app"
else
    if ! "$privilege_tool" /bin/bash "$0" --perform-install "$target_app" "$extracted_app"; then
        relaunch "$target_app"
        exit 1
    fi
fi

relaunch "$target_app"
extracted_parent="$(/usr/bin/dirname -- "$extracted_app")"
case "$extracted_parent" in
    /|.|'') ;;
    *) /bin/rm -rf -- "$extracted_parent" ;;
esac
/bin/rm -f -- "$0"
)SCRIPT";

}  // namespace

const QString& InstallScript::text() {
    static const QString script = QString::fromUtf8(scriptText);
    return script;
}

std::optional<QString> InstallScript::write(const QString& folder, QString* error) {
    if (!QDir().mkpath(folder)) {
        if (error) *error = QStringLiteral("The folder %1 could not be created.").arg(folder);
        return std::nullopt;
    }
    QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    const QString path = QDir(folder).filePath(
        QStringLiteral("install-update-") + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper() + QStringLiteral(".sh"));
    QSaveFile file(path);
    const QByteArray bytes = text().toUtf8();
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        if (error) *error = file.errorString();
        return std::nullopt;
    }
    QFile written(path);
    if (!written.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner)) {
        if (error) *error = written.errorString();
        return std::nullopt;
    }
    return path;
}
