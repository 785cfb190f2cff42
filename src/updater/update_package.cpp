#include "updater/update_package.h"

#include <QCryptographicHash>
#include <QFile>

#include <archive.h>
#include <archive_entry.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <dirent.h>
#include <vector>

namespace {

using Failure = UpdatePackage::Failure;

Failure archiveFailure(const QString& detail) { return Failure{Failure::Kind::Archive, detail}; }
Failure fileFailure(const QString& detail) { return Failure{Failure::Kind::File, detail}; }
QString errnoText(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

// Closes a descriptor when it goes out of scope.
struct Fd {
    int fd = -1;
    explicit Fd(int value = -1) : fd(value) {}
    Fd(Fd&& other) noexcept : fd(std::exchange(other.fd, -1)) {}
    Fd& operator=(Fd&& other) noexcept {
        if (this != &other) {
            reset();
            fd = std::exchange(other.fd, -1);
        }
        return *this;
    }
    ~Fd() { reset(); }
    void reset() {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
};

struct ArchiveReader {
    archive* handle = archive_read_new();
    ~ArchiveReader() { archive_read_free(handle); }
    QString error() const {
        const char* text = archive_error_string(handle);
        return text ? QString::fromUtf8(text) : QStringLiteral("unreadable archive");
    }
};

// The entry's name split into its components: empty and "." pieces dropped; nothing for an
// absolute name or one with a ".." piece.
std::optional<std::vector<std::string>> components(const std::string& name) {
    if (name.empty() || name.front() == '/') return std::nullopt;
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= name.size()) {
        const size_t slash = name.find('/', start);
        const std::string part = name.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
        if (part == "..") return std::nullopt;
        if (!part.empty() && part != ".") parts.push_back(part);
        if (slash == std::string::npos) break;
        start = slash + 1;
    }
    return parts;
}

// Opens (creating where missing) each folder of `parts` below `root`, never through a link.
std::optional<Fd> openFolders(int root, const std::vector<std::string>& parts, size_t count, QString* why) {
    Fd current(::dup(root));
    for (size_t i = 0; i < count; ++i) {
        // Readable by all like any installed application; the working folder above keeps it private.
        if (::mkdirat(current.fd, parts[i].c_str(), 0755) != 0 && errno != EEXIST) {
            *why = errnoText(errno);
            return std::nullopt;
        }
        Fd next(::openat(current.fd, parts[i].c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (next.fd < 0) {
            *why = errno == ELOOP || errno == ENOTDIR ? QStringLiteral("passes through a link or a file")
                                                      : errnoText(errno);
            return std::nullopt;
        }
        current = std::move(next);
    }
    return current;
}

bool isInside(const std::string& path, const std::string& root) {
    return path == root || (path.size() > root.size() && path.compare(0, root.size(), root) == 0 && path[root.size()] == '/');
}

std::optional<std::string> realPath(const std::string& path) {
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (!resolved) return std::nullopt;
    std::string result(resolved);
    std::free(resolved);
    return result;
}

// Names in a folder, sorted bytewise; "." and ".." left out.
std::vector<std::string> sortedNames(const std::string& folder) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return names;
    while (dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

// Every symlink below `folder` must resolve to something that exists inside `root`.
std::optional<Failure> checkLinks(const std::string& folder, const std::string& root, const QString& shownRoot) {
    for (const std::string& name : sortedNames(folder)) {
        const std::string path = folder + "/" + name;
        struct stat info {};
        if (::lstat(path.c_str(), &info) != 0) return fileFailure(errnoText(errno));
        if (S_ISLNK(info.st_mode)) {
            const std::optional<std::string> target = realPath(path);
            if (!target || !isInside(*target, root)) {
                return archiveFailure(QStringLiteral("refused link \"%1\": it leads outside %2")
                                          .arg(QString::fromStdString(path.substr(root.size() + 1)), shownRoot));
            }
        } else if (S_ISDIR(info.st_mode)) {
            if (auto failure = checkLinks(path, root, shownRoot)) return failure;
        }
    }
    return std::nullopt;
}

bool endsWithApp(const std::string& name) {
    if (name.size() < 4) return false;
    std::string tail = name.substr(name.size() - 4);
    std::transform(tail.begin(), tail.end(), tail.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return tail == ".app";
}

// Pre-order walk for the first "*.app"; `found` is set when one was met (good or refused).
std::optional<std::string> walkForApp(const std::string& folder, bool* found, Failure* failure) {
    for (const std::string& name : sortedNames(folder)) {
        if (name.front() == '.') continue;
        const std::string path = folder + "/" + name;
        struct stat info {};
        if (::lstat(path.c_str(), &info) != 0) continue;
        if (endsWithApp(name)) {
            *found = true;
            if (!S_ISDIR(info.st_mode)) {
                *failure = archiveFailure(QStringLiteral("refused bundle \"%1\": it is not a folder").arg(QString::fromStdString(name)));
                return std::nullopt;
            }
            return path;
        }
        if (S_ISDIR(info.st_mode)) {
            std::optional<std::string> inner = walkForApp(path, found, failure);
            if (*found) return inner;
        }
    }
    return std::nullopt;
}

}  // namespace

QString UpdatePackage::archiveFileName(const QUrl& downloadURL) {
    const QString name = downloadURL.fileName(QUrl::FullyDecoded);
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..") || name.contains(QLatin1Char('/')) ||
        name.contains(QChar(u'\0'))) {
        return QString::fromLatin1(fallbackArchiveName);
    }
    return name;
}

QString UpdatePackage::workingDirectoryName(const QString& version, const QString& uuid) {
    QString name = version;
    name.replace(QLatin1Char('/'), QLatin1Char('-'));
    name.replace(QChar(u'\0'), QLatin1Char('-'));
    return name + QLatin1Char('-') + uuid;
}

std::optional<QString> UpdatePackage::sha256Hex(const QString& path, Failure* failure) {
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file) || file.error() != QFileDevice::NoError) {
        if (failure) *failure = fileFailure(file.errorString());
        return std::nullopt;
    }
    return QString::fromLatin1(hash.result().toHex());
}

std::optional<UpdatePackage::Failure> UpdatePackage::extract(const QString& archivePath, const QString& destination,
                                                             const Limits& limits) {
    ArchiveReader reader;
    archive_read_support_format_zip(reader.handle);
    if (archive_read_open_filename(reader.handle, QFile::encodeName(archivePath).constData(), 1 << 16) != ARCHIVE_OK) {
        return archiveFailure(reader.error());
    }
    const Fd root(::open(QFile::encodeName(destination).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (root.fd < 0) return fileFailure(errnoText(errno));

    int64_t written = 0;
    int64_t entries = 0;
    std::vector<char> buffer(1 << 16);
    for (;;) {
        archive_entry* entry = nullptr;
        const int status = archive_read_next_header(reader.handle, &entry);
        if (status == ARCHIVE_EOF) break;
        if (status < ARCHIVE_WARN) return archiveFailure(reader.error());
        if (++entries > limits.maxEntries) return archiveFailure(QStringLiteral("too many entries"));

        const char* rawName = archive_entry_pathname(entry);
        const std::string name = rawName ? rawName : "";
        const QString shown = QString::fromUtf8(name.c_str());
        auto refuse = [&shown](const QString& why) { return archiveFailure(QStringLiteral("refused entry \"%1\": %2").arg(shown, why)); };
        if (static_cast<int>(name.size()) > limits.maxPathLength) return refuse(QStringLiteral("name too long"));
        const std::optional<std::vector<std::string>> parts = components(name);
        if (!parts) return refuse(QStringLiteral("absolute or leads outside the folder"));
        if (static_cast<int>(parts->size()) > limits.maxDepth) return refuse(QStringLiteral("nested too deep"));
        if (parts->empty()) continue;  // "./" names the folder itself
        if (archive_entry_hardlink(entry)) return refuse(QStringLiteral("hard links are not allowed"));

        const mode_t type = archive_entry_filetype(entry);
        const bool isFolder = type == AE_IFDIR;
        QString why;
        std::optional<Fd> parent = openFolders(root.fd, *parts, isFolder ? parts->size() : parts->size() - 1, &why);
        if (!parent) return refuse(why);
        const std::string& leaf = parts->back();

        if (isFolder) continue;
        if (type == AE_IFLNK) {
            const char* target = archive_entry_symlink(entry);
            if (!target || !*target || *target == '/') return refuse(QStringLiteral("link target is absolute or empty"));
            if (::symlinkat(target, parent->fd, leaf.c_str()) != 0) {
                return refuse(errno == EEXIST ? QStringLiteral("appears twice") : errnoText(errno));
            }
            continue;
        }
        if (type != AE_IFREG) return refuse(QStringLiteral("only files, folders and links are allowed"));
        if (archive_entry_size_is_set(entry) && archive_entry_size(entry) > limits.maxTotalBytes - written) {
            return refuse(QStringLiteral("larger than the package may unpack to"));
        }
        const Fd file(::openat(parent->fd, leaf.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (file.fd < 0) return refuse(errno == EEXIST ? QStringLiteral("appears twice") : errnoText(errno));
        // The headers may lie: an entry ends where its declared size does, and only what is
        // really written counts toward the package's cap. Either is checked before a byte lands.
        const int64_t declared = archive_entry_size_is_set(entry) ? archive_entry_size(entry) : -1;
        int64_t entryWritten = 0;
        for (;;) {
            const la_ssize_t got = archive_read_data(reader.handle, buffer.data(), buffer.size());
            if (got < 0) return archiveFailure(reader.error());
            if (got == 0) break;
            entryWritten += got;
            written += got;
            if (declared >= 0 && entryWritten > declared) return refuse(QStringLiteral("larger than its header says"));
            if (written > limits.maxTotalBytes) return refuse(QStringLiteral("larger than the package may unpack to"));
            for (la_ssize_t done = 0; done < got;) {
                const ssize_t n = ::write(file.fd, buffer.data() + done, static_cast<size_t>(got - done));
                if (n < 0) {
                    if (errno == EINTR) continue;
                    return fileFailure(errnoText(errno));
                }
                done += n;
            }
        }
        // Execute bits survive; set-id bits and write access for others never do.
        const mode_t mode = (archive_entry_perm(entry) & 0755) | 0600;
        if (::fchmod(file.fd, mode) != 0) return fileFailure(errnoText(errno));
    }

    const std::optional<std::string> canonicalRoot = realPath(QFile::encodeName(destination).toStdString());
    if (!canonicalRoot) return fileFailure(errnoText(errno));
    return checkLinks(*canonicalRoot, *canonicalRoot, QStringLiteral("the package"));
}

std::optional<QString> UpdatePackage::findApplication(const QString& root, Failure* failure) {
    Failure local;
    Failure& result = failure ? *failure : local;
    const std::optional<std::string> canonicalRoot = realPath(QFile::encodeName(root).toStdString());
    if (!canonicalRoot) {
        result = Failure{Failure::Kind::NotFound, {}};
        return std::nullopt;
    }
    bool found = false;
    Failure walkFailure;
    const std::optional<std::string> bundle = walkForApp(*canonicalRoot, &found, &walkFailure);
    if (!found) {
        result = Failure{Failure::Kind::NotFound, {}};
        return std::nullopt;
    }
    if (!bundle) {
        result = walkFailure;
        return std::nullopt;
    }
    // The bundle is copied on its own, so its links must stay inside it.
    if (std::optional<Failure> links = checkLinks(*bundle, *bundle, QStringLiteral("the bundle"))) {
        result = *links;
        return std::nullopt;
    }
    return QFile::decodeName(QByteArray::fromStdString(*bundle));
}
