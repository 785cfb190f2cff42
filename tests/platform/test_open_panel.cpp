// The open panel on the toolkit's file dialog: it returns at once, opens where it can, and
// answers exactly once.

#include "platform/shell/open_panel.h"
#include "support/fixtures.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

using platform::DialogOpenPanel;
using platform::OpenPanel;
using platform::OpenPanelRequest;
using platform::OpenPanelResponse;

namespace {

QFileDialog* openDialog() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* dialog = qobject_cast<QFileDialog*>(widget); dialog && dialog->isVisible()) return dialog;
    }
    return nullptr;
}

struct Answer {
    int calls = 0;
    OpenPanelResponse response = OpenPanelResponse::cancel;
    QStringList paths;
};

// Opens the panel, every answer kept in `answer`.
void begin(DialogOpenPanel& panel, const OpenPanelRequest& request, const std::shared_ptr<Answer>& answer) {
    panel.begin(request, [answer](OpenPanelResponse response, const QStringList& paths) {
        ++answer->calls;
        answer->response = response;
        answer->paths = paths;
    });
}

}  // namespace

TEST(OpenPanelTest, AStartFolderThatDoesNotExistOpensTheHomeFolder) {
    QTemporaryDir dir;
    EXPECT_EQ(OpenPanel::startDirectory(dir.path()), QDir(dir.path()).absolutePath());
    EXPECT_EQ(OpenPanel::startDirectory(QStringLiteral("/no/such/folder")), QDir::homePath());
    EXPECT_EQ(OpenPanel::startDirectory(QString()), QDir::homePath());
    // A file is no folder to open in.
    const QString file = dir.filePath(QStringLiteral("file"));
    ASSERT_TRUE(testsupport::writeFile(file, "x"));
    EXPECT_EQ(OpenPanel::startDirectory(file), QDir::homePath());
}

TEST(OpenPanelTest, TheDialogIsModelessAndAnswersOnceWithTheChosenFile) {
    QTemporaryDir dir;
    const QString app = dir.filePath(QStringLiteral("Player.desktop"));
    ASSERT_TRUE(testsupport::writeFile(app, "[Desktop Entry]\n"));
    DialogOpenPanel panel;
    OpenPanelRequest request;
    request.title = QStringLiteral("Select App");
    request.message = QStringLiteral("Pick one.");
    request.directory = dir.path();
    request.nameFilters = {QStringLiteral("Applications (*.desktop)")};
    auto answer = std::make_shared<Answer>();
    begin(panel, request, answer);
    // begin() has returned with the panel up and nothing answered.
    QFileDialog* dialog = openDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(answer->calls, 0);
    EXPECT_EQ(dialog->windowModality(), Qt::NonModal);
    EXPECT_EQ(dialog->windowTitle(), "Select App");
    EXPECT_EQ(dialog->fileMode(), QFileDialog::ExistingFile);
    EXPECT_EQ(QDir(dialog->directory()).absolutePath(), QDir(dir.path()).absolutePath());
    bool messageShown = false;
    for (QLabel* label : dialog->findChildren<QLabel*>()) messageShown |= label->text() == "Pick one.";
    EXPECT_TRUE(messageShown);

    dialog->selectFile(app);
    static_cast<QDialog*>(dialog)->accept();
    EXPECT_EQ(answer->calls, 1);
    EXPECT_EQ(answer->response, OpenPanelResponse::ok);
    EXPECT_EQ(answer->paths, QStringList({app}));
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

    // Dismissed: a cancel with nothing chosen.
    request.directory = QStringLiteral("/no/such/folder");
    begin(panel, request, answer);
    dialog = openDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(QDir(dialog->directory()).absolutePath(), QDir::homePath());
    dialog->reject();
    EXPECT_EQ(answer->calls, 2);
    EXPECT_EQ(answer->response, OpenPanelResponse::cancel);
    EXPECT_TRUE(answer->paths.isEmpty());
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// A folder picker answers with a folder, never with a file.
TEST(OpenPanelTest, AFolderPickerAcceptsFoldersOnly) {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("notes.txt"));
    const QString folder = dir.filePath(QStringLiteral("Shelf"));
    ASSERT_TRUE(testsupport::writeFile(file, "x"));
    ASSERT_TRUE(QDir().mkpath(folder));
    DialogOpenPanel panel;
    OpenPanelRequest request;
    request.canChooseDirectories = true;
    request.canChooseFiles = false;
    request.directory = dir.path();
    auto answer = std::make_shared<Answer>();
    begin(panel, request, answer);
    QFileDialog* dialog = openDialog();
    ASSERT_NE(dialog, nullptr);
    dialog->selectFile(file);
    static_cast<QDialog*>(dialog)->accept();
    EXPECT_EQ(answer->calls, 0) << answer->paths.join(u' ').toStdString();
    dialog->selectFile(folder);
    static_cast<QDialog*>(dialog)->accept();
    EXPECT_EQ(answer->calls, 1);
    EXPECT_EQ(answer->response, OpenPanelResponse::ok);
    EXPECT_EQ(answer->paths, QStringList({folder}));
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}
