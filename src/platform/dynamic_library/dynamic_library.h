#pragma once

#include <QString>

#include <memory>

namespace platform {

// A library loaded at run time by its path. Functions are found by name; the library stays
// loaded for the life of the process, so a function pointer never dangles.
class DynamicLibrary {
public:
    virtual ~DynamicLibrary() = default;
    // The address of the exported `name`; nullptr when the library has no such symbol.
    virtual void* symbol(const char* name) const = 0;
};

class DynamicLibraryLoader {
public:
    virtual ~DynamicLibraryLoader() = default;

    // The process-wide loader (dlopen unless a test installed another).
    static DynamicLibraryLoader& shared();
    // Installs `loader` (nullptr restores the default); returns the previous one.
    static DynamicLibraryLoader* setShared(DynamicLibraryLoader* loader);

    // Loads the library at `path` with every symbol bound at once; nullptr when it does not load.
    // `error` receives the loader's reason.
    virtual std::shared_ptr<DynamicLibrary> load(const QString& path, QString* error = nullptr) = 0;
};

// dlopen/dlsym. Libraries are never closed.
class DlopenLibraryLoader final : public DynamicLibraryLoader {
public:
    std::shared_ptr<DynamicLibrary> load(const QString& path, QString* error = nullptr) override;
};

}  // namespace platform
