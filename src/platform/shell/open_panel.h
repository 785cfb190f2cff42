#pragma once

// Asks the user for an existing item without blocking: the panel stays up beside the other
// windows and reports the user's answer through a completion on the main thread.

#include <QString>
#include <QStringList>

#include <functional>

namespace platform {

struct OpenPanelRequest {
    QString title;
    QString message;
    bool canChooseFiles = true;
    bool canChooseDirectories = false;
    bool allowsMultipleSelection = false;
    // Where the panel opens; a folder that does not exist opens the home folder instead.
    QString directory;
    // Name filters such as "Applications (*.desktop)"; empty allows every file.
    QStringList nameFilters;
};

enum class OpenPanelResponse { ok, cancel };

class OpenPanel {
public:
    using Completion = std::function<void(OpenPanelResponse response, const QStringList& paths)>;

    virtual ~OpenPanel() = default;

    static OpenPanel& shared();
    // Installs `panel` (nullptr restores the default); returns the previous one.
    static OpenPanel* setShared(OpenPanel* panel);

    // The folder a panel asked to open in actually opens in.
    static QString startDirectory(const QString& requested);

    // Shows the panel and returns at once. `completion` runs once, on the main thread, when the
    // user accepts or dismisses it. Main thread only.
    virtual void begin(const OpenPanelRequest& request, Completion completion) = 0;
};

// The toolkit's file dialog, modeless.
class DialogOpenPanel final : public OpenPanel {
public:
    void begin(const OpenPanelRequest& request, Completion completion) override;
};

}  // namespace platform
