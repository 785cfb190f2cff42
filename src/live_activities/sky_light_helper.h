#pragma once

// A window-server space above the lock screen, so the notch can stay visible while the screen is
// locked. The window server's private framework is loaded by path at run time and never linked;
// where it does not exist (any Linux desktop) the helper stays unavailable and windows stay put.

#include "platform/dynamic_library/dynamic_library.h"

#include <QString>

#include <cstdint>
#include <memory>
#include <vector>

class SkyLightHelper {
public:
    // The array object the framework takes: numbers (space ids, window numbers).
    using NumberArray = std::vector<int64_t>;
    using MainConnectionIDFn = int32_t (*)();
    using SpaceCreateFn = int32_t (*)(int32_t, int32_t, int32_t);
    using SpaceSetAbsoluteLevelFn = int32_t (*)(int32_t, int32_t, int32_t);
    using ShowSpacesFn = int32_t (*)(int32_t, const NumberArray*);
    using AddWindowsFn = int32_t (*)(int32_t, int32_t, const NumberArray*, int32_t);

    static inline const QString frameworkPath =
        QStringLiteral("/System/Library/PrivateFrameworks/SkyLight.framework/Versions/A/SkyLight");

    // Created on first use; all the work happens once, here.
    static SkyLightHelper& shared();

    explicit SkyLightHelper(platform::DynamicLibraryLoader& loader = platform::DynamicLibraryLoader::shared(),
                            const QString& path = frameworkPath);
    SkyLightHelper(const SkyLightHelper&) = delete;
    SkyLightHelper& operator=(const SkyLightHelper&) = delete;

    int32_t connection = 0;
    int32_t space = 0;
    bool isAvailable = false;
    MainConnectionIDFn fnMainConnectionID = nullptr;
    SpaceCreateFn fnSpaceCreate = nullptr;
    SpaceSetAbsoluteLevelFn fnSpaceSetAbsoluteLevel = nullptr;
    ShowSpacesFn fnShowSpaces = nullptr;
    AddWindowsFn fnAddWindows = nullptr;

private:
    std::shared_ptr<platform::DynamicLibrary> library_;  // kept loaded for the process
};
