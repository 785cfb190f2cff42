#include "platform/workspace/desktop_entries.h"

#include "support/service_fixtures.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

void write(const QString& path, const QByteArray& text) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(text);
}

TEST(DesktopEntries, MatchesByHintThenStartupClassThenIdAndSkipsHiddenOnes) {
    QTemporaryDir home, system;
    testsupport::ScopedEnvironment env;
    env.set("XDG_DATA_HOME", home.path().toUtf8());
    env.set("XDG_DATA_DIRS", system.path().toUtf8());
    write(home.path() + "/applications/org.example.Notes.desktop",
          "[Desktop Entry]\nType=Application\nName=My Notes\nIcon=notes\n");
    write(system.path() + "/applications/org.example.Notes.desktop",
          "[Desktop Entry]\nType=Application\nName=Notes (system)\n");
    write(system.path() + "/applications/vendor/term.desktop",
          "[Desktop Entry]\nType=Application\nName=Terminal\nStartupWMClass=XTerm\n"
          "[Desktop Action new]\nName=New Window\n");
    write(system.path() + "/applications/org.gnome.Files.desktop", "[Desktop Entry]\nType=Application\nName=Files\n");
    write(system.path() + "/applications/ghost.desktop", "[Desktop Entry]\nType=Application\nName=Ghost\nHidden=true\n");
    write(system.path() + "/applications/link.desktop", "[Desktop Entry]\nType=Link\nName=Link\n");

    platform::DesktopEntries entries;
    auto notes = entries.match(QStringLiteral("org.example.Notes"), QString(), QString());
    ASSERT_TRUE(notes);
    EXPECT_EQ(notes->name, QStringLiteral("My Notes")) << "the user's entry hides the system one";
    EXPECT_EQ(notes->icon, QStringLiteral("notes"));
    auto term = entries.match(QString(), QStringLiteral("XTerm"), QStringLiteral("xterm"));
    ASSERT_TRUE(term);
    EXPECT_EQ(term->id, QStringLiteral("vendor-term"));
    EXPECT_EQ(term->name, QStringLiteral("Terminal")) << "an action's name is not the entry's";
    auto files = entries.match(QString(), QStringLiteral("Files"), QStringLiteral("files"));
    ASSERT_TRUE(files);
    EXPECT_EQ(files->id, QStringLiteral("org.gnome.Files"));
    EXPECT_FALSE(entries.match(QString(), QStringLiteral("Ghost"), QString()));
    EXPECT_FALSE(entries.match(QString(), QStringLiteral("link"), QString()));

    // A new entry is seen without a restart.
    write(home.path() + "/applications/ghost.desktop", "[Desktop Entry]\nType=Application\nName=Ghost\n");
    EXPECT_TRUE(entries.match(QString(), QStringLiteral("Ghost"), QString()));
}

}  // namespace
