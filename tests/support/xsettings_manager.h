#pragma once

#include <QByteArray>

#include <cstdint>
#include <utility>
#include <vector>

struct xcb_connection_t;

namespace testsupport {

// The desktop's XSETTINGS manager of screen 0 on the X server $DISPLAY names, as a test plays it:
// a window of ours that holds the screen's selection and publishes the settings.
class XSettingsManager {
public:
    XSettingsManager() = default;
    ~XSettingsManager();
    XSettingsManager(const XSettingsManager&) = delete;
    XSettingsManager& operator=(const XSettingsManager&) = delete;

    // An _XSETTINGS_SETTINGS value: an integer, a colour, then the string settings given.
    static QByteArray settings(const std::vector<std::pair<QByteArray, QByteArray>>& strings, bool bigEndian = false);

    // Publishes settings naming `iconTheme` (Net/IconThemeName).
    void serveIconTheme(const QByteArray& iconTheme);
    // Sets the settings to `value`, as a manager does: on its first publication (or the first
    // after quit) a new window takes the selection and announces it on the root window. Returns
    // once the server has done it all.
    void publish(const QByteArray& value);
    // The manager ends: its window goes, and the selection with it.
    void quit();

private:
    uint32_t atom(const QByteArray& name);

    xcb_connection_t* c_ = nullptr;
    uint32_t window_ = 0;
};

}  // namespace testsupport
