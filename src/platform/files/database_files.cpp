#include "platform/files/database_files.h"

#include "platform/files/regular_file.h"

#include <sqlite3.h>

#include <mutex>
#include <string>

#include <sys/stat.h>

namespace platform {

namespace {

// What this layer recorded of a file; the layer below's file follows it (SQLite aligns both to 8).
struct HeldFile {
    sqlite3_file base;
    const char* name;  // SQLite keeps it valid until the file is closed
    bool held;
    dev_t device;
    ino_t inode;
    bool indexHeld;
    dev_t indexDevice;
    ino_t indexInode;
    sqlite3_file* real() { return reinterpret_cast<sqlite3_file*>(this + 1); }
};

sqlite3_vfs* below = nullptr;
sqlite3_vfs layer{};

HeldFile* held(sqlite3_file* file) { return reinterpret_cast<HeldFile*>(file); }
const sqlite3_io_methods& realMethods(sqlite3_file* file) { return *held(file)->real()->pMethods; }

bool identity(const std::string& path, dev_t& device, ino_t& inode) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return false;
    device = info.st_dev;
    inode = info.st_ino;
    return true;
}

void releaseIndex(HeldFile* file) {
    if (!file->indexHeld) return;
    file->indexHeld = false;
    setHeldByDatabase(file->indexDevice, file->indexInode, false);
}

int heldClose(sqlite3_file* file) {
    HeldFile* f = held(file);
    const int rc = realMethods(file).xClose(f->real());
    releaseIndex(f);
    if (f->held) setHeldByDatabase(f->device, f->inode, false);
    f->held = false;
    return rc;
}

int heldRead(sqlite3_file* f, void* buffer, int amount, sqlite3_int64 offset) {
    return realMethods(f).xRead(held(f)->real(), buffer, amount, offset);
}
int heldWrite(sqlite3_file* f, const void* buffer, int amount, sqlite3_int64 offset) {
    return realMethods(f).xWrite(held(f)->real(), buffer, amount, offset);
}
int heldTruncate(sqlite3_file* f, sqlite3_int64 size) { return realMethods(f).xTruncate(held(f)->real(), size); }
int heldSync(sqlite3_file* f, int flags) { return realMethods(f).xSync(held(f)->real(), flags); }
int heldFileSize(sqlite3_file* f, sqlite3_int64* size) { return realMethods(f).xFileSize(held(f)->real(), size); }
int heldLock(sqlite3_file* f, int level) { return realMethods(f).xLock(held(f)->real(), level); }
int heldUnlock(sqlite3_file* f, int level) { return realMethods(f).xUnlock(held(f)->real(), level); }
int heldCheckReservedLock(sqlite3_file* f, int* out) {
    return realMethods(f).xCheckReservedLock(held(f)->real(), out);
}
int heldFileControl(sqlite3_file* f, int op, void* arg) { return realMethods(f).xFileControl(held(f)->real(), op, arg); }
int heldSectorSize(sqlite3_file* f) { return realMethods(f).xSectorSize(held(f)->real()); }
int heldDeviceCharacteristics(sqlite3_file* f) { return realMethods(f).xDeviceCharacteristics(held(f)->real()); }

// The index (the "-shm" file) is opened by the layer below on the first mapping, not through
// xOpen: it is recorded once that mapping succeeded.
int heldShmMap(sqlite3_file* f, int page, int pageSize, int extend, void volatile** out) {
    HeldFile* file = held(f);
    const int rc = realMethods(f).xShmMap(file->real(), page, pageSize, extend, out);
    if (!file->indexHeld && file->name && (rc == SQLITE_OK || rc == SQLITE_READONLY) &&
        identity(std::string(file->name) + "-shm", file->indexDevice, file->indexInode)) {
        file->indexHeld = true;
        setHeldByDatabase(file->indexDevice, file->indexInode, true);
    }
    return rc;
}
int heldShmLock(sqlite3_file* f, int offset, int n, int flags) {
    return realMethods(f).xShmLock(held(f)->real(), offset, n, flags);
}
void heldShmBarrier(sqlite3_file* f) { realMethods(f).xShmBarrier(held(f)->real()); }
int heldShmUnmap(sqlite3_file* f, int deleteFlag) {
    const int rc = realMethods(f).xShmUnmap(held(f)->real(), deleteFlag);
    releaseIndex(held(f));
    return rc;
}
int heldFetch(sqlite3_file* f, sqlite3_int64 offset, int amount, void** out) {
    return realMethods(f).xFetch(held(f)->real(), offset, amount, out);
}
int heldUnfetch(sqlite3_file* f, sqlite3_int64 offset, void* page) {
    return realMethods(f).xUnfetch(held(f)->real(), offset, page);
}

// One table per version of the layer below, so SQLite sees the same abilities.
sqlite3_io_methods methodsOfVersion(int version) {
    sqlite3_io_methods m{};
    m.iVersion = version;
    m.xClose = heldClose;
    m.xRead = heldRead;
    m.xWrite = heldWrite;
    m.xTruncate = heldTruncate;
    m.xSync = heldSync;
    m.xFileSize = heldFileSize;
    m.xLock = heldLock;
    m.xUnlock = heldUnlock;
    m.xCheckReservedLock = heldCheckReservedLock;
    m.xFileControl = heldFileControl;
    m.xSectorSize = heldSectorSize;
    m.xDeviceCharacteristics = heldDeviceCharacteristics;
    if (version >= 2) {
        m.xShmMap = heldShmMap;
        m.xShmLock = heldShmLock;
        m.xShmBarrier = heldShmBarrier;
        m.xShmUnmap = heldShmUnmap;
    }
    if (version >= 3) {
        m.xFetch = heldFetch;
        m.xUnfetch = heldUnfetch;
    }
    return m;
}

const sqlite3_io_methods methods[3] = {methodsOfVersion(1), methodsOfVersion(2), methodsOfVersion(3)};

// Recorded before any lock is taken: the layer below locks only when asked to, after the open.
int heldOpen(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* file, int flags, int* outFlags) {
    HeldFile* f = held(file);
    f->base.pMethods = nullptr;
    f->name = name;
    f->held = false;
    f->indexHeld = false;
    const int rc = below->xOpen(below, name, f->real(), flags, outFlags);
    if (rc != SQLITE_OK || !f->real()->pMethods) {
        // SQLite closes a file whose open failed only when the layer set its methods.
        if (f->real()->pMethods) f->real()->pMethods->xClose(f->real());
        return rc;
    }
    if (name && identity(name, f->device, f->inode)) {
        f->held = true;
        setHeldByDatabase(f->device, f->inode, true);
    }
    const int version = f->real()->pMethods->iVersion;
    f->base.pMethods = &methods[version < 1 ? 0 : version > 3 ? 2 : version - 1];
    return rc;
}

int heldDelete(sqlite3_vfs*, const char* name, int syncDir) { return below->xDelete(below, name, syncDir); }
int heldAccess(sqlite3_vfs*, const char* name, int flags, int* out) { return below->xAccess(below, name, flags, out); }
int heldFullPathname(sqlite3_vfs*, const char* name, int size, char* out) {
    return below->xFullPathname(below, name, size, out);
}
void* heldDlOpen(sqlite3_vfs*, const char* name) { return below->xDlOpen(below, name); }
void heldDlError(sqlite3_vfs*, int size, char* out) { below->xDlError(below, size, out); }
void (*heldDlSym(sqlite3_vfs*, void* library, const char* symbol))(void) { return below->xDlSym(below, library, symbol); }
void heldDlClose(sqlite3_vfs*, void* library) { below->xDlClose(below, library); }
int heldRandomness(sqlite3_vfs*, int size, char* out) { return below->xRandomness(below, size, out); }
int heldSleep(sqlite3_vfs*, int microseconds) { return below->xSleep(below, microseconds); }
int heldCurrentTime(sqlite3_vfs*, double* out) { return below->xCurrentTime(below, out); }
int heldGetLastError(sqlite3_vfs*, int size, char* out) { return below->xGetLastError(below, size, out); }
int heldCurrentTimeInt64(sqlite3_vfs*, sqlite3_int64* out) { return below->xCurrentTimeInt64(below, out); }
int heldSetSystemCall(sqlite3_vfs*, const char* name, sqlite3_syscall_ptr call) {
    return below->xSetSystemCall(below, name, call);
}
sqlite3_syscall_ptr heldGetSystemCall(sqlite3_vfs*, const char* name) { return below->xGetSystemCall(below, name); }
const char* heldNextSystemCall(sqlite3_vfs*, const char* name) { return below->xNextSystemCall(below, name); }

}  // namespace

void recordFilesHeldByDatabases() {
    static std::once_flag once;
    std::call_once(once, [] {
        below = sqlite3_vfs_find(nullptr);
        if (!below) return;
        layer.iVersion = below->iVersion < 3 ? below->iVersion : 3;
        layer.szOsFile = static_cast<int>(sizeof(HeldFile)) + below->szOsFile;
        layer.mxPathname = below->mxPathname;
        layer.zName = "held-files";
        layer.xOpen = heldOpen;
        layer.xDelete = heldDelete;
        layer.xAccess = heldAccess;
        layer.xFullPathname = heldFullPathname;
        layer.xDlOpen = heldDlOpen;
        layer.xDlError = heldDlError;
        layer.xDlSym = heldDlSym;
        layer.xDlClose = heldDlClose;
        layer.xRandomness = heldRandomness;
        layer.xSleep = heldSleep;
        layer.xCurrentTime = heldCurrentTime;
        layer.xGetLastError = heldGetLastError;
        if (layer.iVersion >= 2) layer.xCurrentTimeInt64 = heldCurrentTimeInt64;
        if (layer.iVersion >= 3) {
            layer.xSetSystemCall = heldSetSystemCall;
            layer.xGetSystemCall = heldGetSystemCall;
            layer.xNextSystemCall = heldNextSystemCall;
        }
        sqlite3_vfs_register(&layer, 1);
    });
}

}  // namespace platform
