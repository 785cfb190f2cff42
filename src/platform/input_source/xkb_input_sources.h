#pragma once

#include "platform/input_source/input_sources.h"

#include <QByteArray>
#include <QStringList>

#include <memory>
#include <optional>

namespace platform {

// Keyboard input sources on X11: each XKB group is one source. The current source is the
// keyboard's effective group; its identifier is that group's layout in the server's rules names
// ("us", "de(nodeadkeys)"), its name the group's name ("English (US)"). Group switches and keymap
// changes arrive as XKB events on a connection of our own, read on the main thread. Without an
// X display (or without XKB) there is no current source and no change.
class XkbInputSources final : public InputSources {
public:
    // An empty display name means $DISPLAY.
    explicit XkbInputSources(QByteArray displayName = {});
    ~XkbInputSources() override;
    XkbInputSources(const XkbInputSources&) = delete;
    XkbInputSources& operator=(const XkbInputSources&) = delete;

    std::optional<InputSource> currentSource() override;
    [[nodiscard]] AnyCancellable observeSelectionChanges(std::function<void()> handler) override;

    // The identifier of `group` from the rules names' layout and variant lists
    // ("us,de" and ",nodeadkeys" give "us" and "de(nodeadkeys)"); none past their end.
    static std::optional<QString> layoutIdentifier(const QString& layouts, const QString& variants, int group);

private:
    struct Connection;
    bool connect();
    void readEvents();
    // Takes the events xcb already holds (`fromSocket`: and those waiting on the socket); whether
    // one of them changes the source.
    bool takeEvents(bool fromSocket);
    void notifyHandlers();

    QByteArray displayName_;
    std::unique_ptr<Connection> connection_;
};

}  // namespace platform
