#include "platform/shell/window_registry.h"

namespace platform {

void WindowRegistry::add(Window* window) { windows_.push_back(window); }

void WindowRegistry::remove(Window* window) { std::erase(windows_, window); }

void WindowRegistry::orderFront(Window* window) {
    std::erase(windows_, window);
    windows_.insert(windows_.begin(), window);
}

}  // namespace platform
