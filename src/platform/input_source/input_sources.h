#pragma once

#include "platform/runtime/reactive.h"

#include <QString>

#include <functional>
#include <optional>

namespace platform {

// The keyboard input source in use: its identifier and its display name, each missing when the
// system cannot say.
struct InputSource {
    std::optional<QString> id;
    std::optional<QString> localizedName;
    // An input method engine with modes whose current one has not been heard: `id` names the
    // engine alone, and each mode's identifier extends it ("ibus:anthy", "ibus:anthy.Roman").
    bool modeUnheard = false;
    // The mode was last told as the one in use (the engine or a panel listing where it stands),
    // not as a change of it.
    bool modeRestated = false;
};

// The keyboard input sources. Handlers run on the main thread.
class InputSources {
public:
    virtual ~InputSources() = default;

    // The desktop's input sources (the input method framework's engine, else XKB on X11, unless
    // a test installed another).
    static InputSources& shared();
    // Installs `sources` (nullptr restores the default); returns the previous one.
    static InputSources* setShared(InputSources* sources);

    // The current source; none when there is no keyboard to ask (no display).
    virtual std::optional<InputSource> currentSource() = 0;
    // Called whenever the selected source may have changed (the handler reads currentSource()).
    [[nodiscard]] virtual AnyCancellable observeSelectionChanges(std::function<void()> handler) = 0;
    // Runs `ready` once currentSource() tells where the user stands: at once, unless the sources
    // observed are still being asked (an input method framework's first answer is out).
    [[nodiscard]] virtual AnyCancellable whenSettled(std::function<void()> ready) {
        ready();
        return AnyCancellable();
    }
};

}  // namespace platform
