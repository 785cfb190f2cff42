#include "platform/workspace/icon_folder_contents.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace platform {

namespace {

std::atomic<int> reads{0};

bool isFileOrLink(mode_t mode) { return S_ISREG(mode) || S_ISLNK(mode); }

}  // namespace

// Entries are read straight from the kernel, a buffer at a time: a folder of a large theme is
// usually empty, and opening it is most of what looking into it costs.
void IconFolderContents::Folder::read(int fd) {
    alignas(dirent64) char buffer[16384];
    int entries = 0;
    for (;;) {
        const ssize_t n = ::getdents64(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n == 0) return;
        if (n < 0) break;
        for (ssize_t offset = 0; offset < n && entries <= kMaxListed;) {
            const auto* entry = reinterpret_cast<const dirent64*>(buffer + offset);
            offset += entry->d_reclen;
            ++entries;
            bool file = entry->d_type == DT_REG || entry->d_type == DT_LNK;
            if (entry->d_type == DT_UNKNOWN) {
                struct stat info {};
                file = ::fstatat(fd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 && isFileOrLink(info.st_mode);
            }
            if (file) files_.emplace(entry->d_name);
        }
        if (entries > kMaxListed) break;
    }
    // Too large to keep, or unreadable: asked name by name.
    kind_ = Kind::large;
    files_.clear();
}

bool IconFolderContents::Folder::holds(std::string_view file) const {
    switch (kind_) {
    case Kind::missing: return false;
    case Kind::listed: return files_.find(file) != files_.end();
    case Kind::large: break;
    }
    std::string path = path_;
    path.append(1, '/').append(file);
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 && isFileOrLink(info.st_mode);
}

std::shared_ptr<const IconFolderContents::Folder> IconFolderContents::folder(std::string_view path) {
    {
        std::lock_guard lock(mutex_);
        if (const auto hit = folders_.find(path); hit != folders_.end()) return hit->second;
    }
    auto made = std::make_shared<Folder>();
    made->path_ = path;
    // O_DIRECTORY: anything else fails before it is opened (a pipe never blocks here).
    const int fd = ::open(made->path_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ++reads;
        made->kind_ = Folder::Kind::listed;
        // A folder whose own size already tells of thousands of entries (a theme's application
        // icons) is not read: a file system lists it in full to hand out its first entries.
        struct stat info {};
        if (::fstat(fd, &info) == 0 && info.st_size > kLargeBytes)
            made->kind_ = Folder::Kind::large;
        else
            made->read(fd);
        ::close(fd);
    }
    std::string key = made->path_;
    std::lock_guard lock(mutex_);
    return folders_.emplace(std::move(key), std::move(made)).first->second;
}

int IconFolderContents::folderReads() { return reads; }

}  // namespace platform
