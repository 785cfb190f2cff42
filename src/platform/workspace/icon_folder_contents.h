#pragma once

#include <QByteArray>

#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace platform {

class LocalReach;

// What the icon folders lookups look into hold, each folder read once. A theme may list thousands
// of folders and a lookup looks into each of them for every name it tries (the name, then the name
// shortened at each dash): a small folder's listing is kept, so that every later name is answered
// from memory; a large one (an application folder of thousands of icons) is looked at name by
// name, which costs less than reading it whole. Valid while the folders do not change: whoever
// watches them makes a new one when they do. A folder is looked into only where it and every step
// to it lie on this machine's own file systems (see LocalReach): the others are told apart, for a
// child to look into. Any thread.
class IconFolderContents {
public:
    // A folder of more entries than this is looked at name by name.
    static constexpr int kMaxListed = 512;
    // A folder whose own size says it holds far more (some 1,500 to 3,000 names, as file systems
    // count) is looked at name by name without reading it.
    static constexpr long kLargeBytes = 64 * 1024;

    struct Hash {
        using is_transparent = void;
        size_t operator()(std::string_view text) const { return std::hash<std::string_view>()(text); }
    };
    using Names = std::unordered_set<std::string, Hash, std::equal_to<>>;

    class Folder {
    public:
        Folder() = default;
        ~Folder();
        Folder(const Folder&) = delete;
        Folder& operator=(const Folder&) = delete;
        // Whether it is a folder here (a link to one counts).
        bool exists() const { return kind_ == Kind::listed || kind_ == Kind::large; }
        // Whether it lies on another file system, or a step to it does: not looked into.
        bool elsewhere() const { return kind_ == Kind::elsewhere; }
        // Whether it holds a file, or a symbolic link (not followed: it may lead anywhere), named
        // `file`.
        bool holds(std::string_view file) const;
        bool listed() const { return kind_ == Kind::listed; }

    private:
        friend class IconFolderContents;
        enum class Kind { missing, elsewhere, listed, large } kind_ = Kind::missing;
        int fd_ = -1;  // large: the folder, looked into name by name
        // Mount points of other file systems among its entries: never looked at.
        std::vector<QByteArray> foreign_;
        Names files_;  // listed: its files' and links' names
        void read(int fd);
        bool isForeign(std::string_view name) const;
    };

    // `path` looked into (at the first call for it), reached as `reach` reaches it.
    std::shared_ptr<const Folder> folder(std::string_view path, const LocalReach& reach);

    // How many folders were opened since the process started (tests).
    static int folderReads();

private:
    std::mutex mutex_;
    std::unordered_map<std::string, std::shared_ptr<const Folder>, Hash, std::equal_to<>> folders_;
};

}  // namespace platform
