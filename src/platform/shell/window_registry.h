#pragma once

#include <vector>

namespace platform {

class Window;

// The application's windows in front-to-back order, which Qt does not expose. Windows register
// themselves for their lifetime; ordering a window in front moves it to the head.
class WindowRegistry {
public:
    WindowRegistry() = default;
    WindowRegistry(const WindowRegistry&) = delete;
    WindowRegistry& operator=(const WindowRegistry&) = delete;

    // Every live window, front first; windows never shown keep their creation order at the back.
    std::vector<Window*> orderedWindows() const { return windows_; }

    void add(Window* window);
    void remove(Window* window);
    void orderFront(Window* window);

private:
    std::vector<Window*> windows_;
};

}  // namespace platform
