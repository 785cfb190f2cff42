#include "platform/app_window_registry.h"

#include <algorithm>

namespace platform {

void WindowRegistry::add(Window* window) {
    if (std::find(windows_.begin(), windows_.end(), window) == windows_.end()) windows_.push_back(window);
}

void WindowRegistry::remove(Window* window) {
    std::erase(windows_, window);
    if (key_ == window) key_ = nullptr;
}

void WindowRegistry::orderFront(Window* window) {
    std::erase(windows_, window);
    windows_.insert(windows_.begin(), window);
}

void WindowRegistry::makeKey(Window* window) { key_ = window; }

void WindowRegistry::resignKey(Window* window) {
    if (key_ == window) key_ = nullptr;
}

}  // namespace platform
