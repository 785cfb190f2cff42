#include "live_activities/sky_light_helper.h"

#include "core/log.h"

SkyLightHelper& SkyLightHelper::shared() {
    static auto* instance = new SkyLightHelper();
    return *instance;
}

SkyLightHelper::SkyLightHelper(platform::DynamicLibraryLoader& loader, const QString& path) {
    library_ = loader.load(path);
    if (!library_) {
        Log::shared().warning(QStringLiteral("SkyLightHelper: Failed to load SkyLight framework"));
        return;
    }
    // Looked up in this order, stopping at the first that is missing.
    void* mainConnectionID = library_->symbol("SLSMainConnectionID");
    void* spaceCreate = mainConnectionID ? library_->symbol("SLSSpaceCreate") : nullptr;
    void* setAbsoluteLevel = spaceCreate ? library_->symbol("SLSSpaceSetAbsoluteLevel") : nullptr;
    void* showSpaces = setAbsoluteLevel ? library_->symbol("SLSShowSpaces") : nullptr;
    void* addWindows = showSpaces ? library_->symbol("SLSSpaceAddWindowsAndRemoveFromSpaces") : nullptr;
    if (!addWindows) {
        Log::shared().warning(QStringLiteral("SkyLightHelper: Failed to resolve SkyLight symbols"));
        return;
    }
    fnMainConnectionID = reinterpret_cast<MainConnectionIDFn>(mainConnectionID);
    fnSpaceCreate = reinterpret_cast<SpaceCreateFn>(spaceCreate);
    fnSpaceSetAbsoluteLevel = reinterpret_cast<SpaceSetAbsoluteLevelFn>(setAbsoluteLevel);
    fnShowSpaces = reinterpret_cast<ShowSpacesFn>(showSpaces);
    fnAddWindows = reinterpret_cast<AddWindowsFn>(addWindows);

    connection = fnMainConnectionID();
    space = fnSpaceCreate(connection, 1, 0);
    fnSpaceSetAbsoluteLevel(connection, space, 400);
    const NumberArray spaces{space};
    fnShowSpaces(connection, &spaces);
    isAvailable = true;
    Log::shared().info(QStringLiteral("SkyLightHelper: Initialized (connection=") + QString::number(connection) +
                       QStringLiteral(", space=") + QString::number(space) + QStringLiteral(")"));
}
