#pragma once

// The drag pasteboard on X11. An XDND drag source owns the XdndSelection while it drags and hands
// its data to whoever converts that selection, drop target or not. On a connection of its own
// this watches the selection's owner (XFixes) and the release of any mouse button (XInput2 raw
// events, delivered whoever grabs the pointer): a new owner starts a session and its data is
// asked for as text/uri-list at once, and again at each later look while the source has refused
// every request; a button release or the owner going away ends it. A source keeps the selection
// after its drag, so an owner alone never counts.

#include "platform/pointer/drag_pasteboard.h"

#include <QByteArray>

#include <cstdint>
#include <memory>
#include <optional>

struct xcb_connection_t;
class QSocketNotifier;

namespace platform {

class X11XdndPasteboard final : public DragPasteboard {
public:
    // `display`: the X display; empty means $DISPLAY at the moment of the first use.
    explicit X11XdndPasteboard(QByteArray display = {});
    ~X11XdndPasteboard() override;
    X11XdndPasteboard(const X11XdndPasteboard&) = delete;
    X11XdndPasteboard& operator=(const X11XdndPasteboard&) = delete;

    bool canReadFileURLs() override;
    void startWatching() override { start(); }

    // Connects and starts watching (the first canReadFileURLs() does it too); false without a
    // display or without the XFixes and XInput2 extensions.
    bool start();
    bool isConnected() const { return connection_ != nullptr; }
    bool isSessionActive() const { return sessionActive_; }
    // The source's answer for the running session: whether it offers a file URL; none before it answers.
    std::optional<bool> offersFileUrls() const { return hasFileUrls_; }
    // Reads and handles what the server has sent (the socket watcher calls it).
    void readPendingEvents();

    // Whether a text/uri-list payload holds a file URL (comment lines and blanks skipped).
    static bool uriListHasFileUrl(const QByteArray& payload);

private:
    void disconnect();
    void beginSession(uint32_t timestamp);
    void askForUriList();
    void readConversion(uint32_t property);

    QByteArray display_;
    bool failed_ = false;
    xcb_connection_t* connection_ = nullptr;
    std::unique_ptr<QSocketNotifier> notifier_;
    uint32_t window_ = 0;
    uint32_t root_ = 0;
    uint32_t selectionAtom_ = 0;
    uint32_t uriListAtom_ = 0;
    uint32_t propertyAtom_ = 0;
    uint8_t xfixesEventBase_ = 0;
    uint8_t xinputOpcode_ = 0;
    bool sessionActive_ = false;
    uint32_t ownerTime_ = 0;     // when the session's owner took the selection
    int answersDue_ = 0;         // requests made and not answered yet, of any session
    bool onlyRefused_ = false;   // every answer of the session so far was a refusal
    std::optional<bool> hasFileUrls_;
};

}  // namespace platform
