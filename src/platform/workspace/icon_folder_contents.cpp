#include "platform/workspace/icon_folder_contents.h"

#include "platform/files/local_reach.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>

namespace platform {

namespace {

std::atomic<int> reads{0};

bool isFileOrLink(mode_t mode) { return S_ISREG(mode) || S_ISLNK(mode); }

}  // namespace

IconFolderContents::Folder::~Folder() {
    if (fd_ >= 0) ::close(fd_);
}

bool IconFolderContents::Folder::isForeign(std::string_view name) const {
    return std::any_of(foreign_.begin(), foreign_.end(), [name](const QByteArray& point) {
        return std::string_view(point.constData(), size_t(point.size())) == name;
    });
}

// Entries are read straight from the kernel, a buffer at a time: a folder of a large theme is
// usually empty, and opening it is most of what looking into it costs.
void IconFolderContents::Folder::read(int fd) {
    int entries = 0;
    const bool whole = forEachEntry(fd, [&](const char* name, unsigned char type) {
        if (++entries > kMaxListed) return false;
        bool file = type == DT_REG || type == DT_LNK;
        if (type == DT_UNKNOWN && !isForeign(name)) {
            struct stat info {};
            file = ::fstatat(fd, name, &info, AT_SYMLINK_NOFOLLOW) == 0 && isFileOrLink(info.st_mode);
        }
        if (file) files_.emplace(name);
        return true;
    });
    if (whole && entries <= kMaxListed) return;
    // Too large to keep, or unreadable: asked name by name.
    kind_ = Kind::large;
    files_.clear();
}

bool IconFolderContents::Folder::holds(std::string_view file) const {
    switch (kind_) {
    case Kind::missing:
    case Kind::elsewhere: return false;
    case Kind::listed: return files_.find(file) != files_.end();
    case Kind::large: break;
    }
    if (fd_ < 0 || isForeign(file)) return false;
    const std::string name(file);
    struct stat info {};
    return ::fstatat(fd_, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 && isFileOrLink(info.st_mode);
}

std::shared_ptr<const IconFolderContents::Folder> IconFolderContents::folder(std::string_view path,
                                                                             const LocalReach& reach) {
    {
        std::lock_guard lock(mutex_);
        if (const auto hit = folders_.find(path); hit != folders_.end()) return hit->second;
    }
    auto made = std::make_shared<Folder>();
    const QByteArray encoded(path.data(), qsizetype(path.size()));
    // O_DIRECTORY: anything else fails before it is opened (a pipe never blocks here).
    QByteArray reached;
    const int fd = reach.open(encoded, O_RDONLY | O_DIRECTORY, &reached);
    if (fd < 0 && errno == EXDEV) made->kind_ = Folder::Kind::elsewhere;
    if (fd >= 0) {
        ++reads;
        made->kind_ = Folder::Kind::listed;
        while (reached.size() > 1 && reached.endsWith('/')) reached.chop(1);
        const QByteArray below = reached.endsWith('/') ? reached : reached + '/';
        for (const QByteArray& point : reach.mounts().foreignInside(reached)) {
            const QByteArray name = point.mid(below.size());
            if (!name.contains('/')) made->foreign_.push_back(name);
        }
        // A folder whose own size already tells of thousands of entries (a theme's application
        // icons) is not read: a file system lists it in full to hand out its first entries.
        struct stat info {};
        if (::fstat(fd, &info) == 0 && info.st_size > kLargeBytes)
            made->kind_ = Folder::Kind::large;
        else
            made->read(fd);
        if (made->kind_ == Folder::Kind::large)
            made->fd_ = fd;
        else
            ::close(fd);
    }
    std::string key(path);
    std::lock_guard lock(mutex_);
    return folders_.emplace(std::move(key), std::move(made)).first->second;
}

int IconFolderContents::folderReads() { return reads; }

}  // namespace platform
