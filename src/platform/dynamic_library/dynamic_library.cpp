#include "platform/dynamic_library/dynamic_library.h"

#include <dlfcn.h>

#include <utility>

namespace platform {

namespace {

class DlopenLibrary final : public DynamicLibrary {
public:
    explicit DlopenLibrary(void* handle) : handle_(handle) {}
    void* symbol(const char* name) const override { return dlsym(handle_, name); }

private:
    void* handle_;  // deliberately never dlclose()d
};

DynamicLibraryLoader* loaderOverride = nullptr;

}  // namespace

DynamicLibraryLoader& DynamicLibraryLoader::shared() {
    if (loaderOverride) return *loaderOverride;
    static auto* loader = new DlopenLibraryLoader();
    return *loader;
}

DynamicLibraryLoader* DynamicLibraryLoader::setShared(DynamicLibraryLoader* loader) {
    return std::exchange(loaderOverride, loader);
}

std::shared_ptr<DynamicLibrary> DlopenLibraryLoader::load(const QString& path, QString* error) {
    dlerror();
    void* handle = dlopen(path.toLocal8Bit().constData(), RTLD_NOW);
    if (!handle) {
        if (error) {
            const char* reason = dlerror();
            *error = reason ? QString::fromLocal8Bit(reason) : QStringLiteral("unknown error");
        }
        return nullptr;
    }
    return std::make_shared<DlopenLibrary>(handle);
}

}  // namespace platform
