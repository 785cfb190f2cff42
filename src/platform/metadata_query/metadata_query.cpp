#include "platform/metadata_query/metadata_query.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <unordered_map>

#include <sys/types.h>
#include <sys/xattr.h>

namespace platform {

namespace {

// Origin URLs are short; anything longer is not one.
constexpr ssize_t kMaxAttributeSize = 64 * 1024;

std::optional<QString> readAttribute(const QByteArray& path, const char* name) {
    const ssize_t size = ::getxattr(path.constData(), name, nullptr, 0);
    if (size < 0 || size > kMaxAttributeSize) return std::nullopt;
    QByteArray value(static_cast<qsizetype>(size), Qt::Uninitialized);
    const ssize_t read = ::getxattr(path.constData(), name, value.data(), static_cast<size_t>(value.size()));
    if (read < 0) return std::nullopt;
    value.truncate(static_cast<qsizetype>(read));
    return QString::fromUtf8(value);
}

class DirectoryMetadataQuery final : public MetadataQuery {
public:
    DirectoryMetadataQuery(const MetadataQueryRequest& request, MetadataSearch::Notice onUpdate)
        : request_(request), onUpdate_(std::move(onUpdate)) {}

    void begin(DirectoryWatcher& watcher, Scheduler& scheduler, MetadataSearch::Notice onFinishGathering) {
        scheduler_ = &scheduler;
        // Watch before listing, so nothing that appears in between is missed.
        auto started = watcher.watch(request_.scope, DirectoryMetadataSearch::updateLatency,
                                     lifetime_.wrap([this](const std::vector<DirectoryEvent>& batch) { take(batch); }));
        watch_ = std::move(started.watch);
        if (watch_) rescan();
        scheduler.post(lifetime_.wrap([this, done = std::move(onFinishGathering)] {
            gathered_ = true;
            if (done) done(*this);
            if (updatesEnabled_) flushPending();
        }));
    }

    ~DirectoryMetadataQuery() override { stop(); }

    void stop() override {
        lifetime_.reset();
        if (watch_) watch_->stop();
        pending_.clear();
    }

    void disableUpdates() override { updatesEnabled_ = false; }

    void enableUpdates() override {
        updatesEnabled_ = true;
        // Not from inside the caller's walk: the notice comes after it.
        if (!pending_.empty() && gathered_) scheduler_->post(lifetime_.wrap([this] { flushPending(); }));
    }

    int resultCount() const override { return static_cast<int>(results_.size()); }
    const MetadataItem& resultAt(int index) const override { return results_.at(static_cast<size_t>(index)); }

private:
    std::optional<MetadataItem> examine(const QString& path) const {
        const QFileInfo info(path);
        if (!info.exists()) return std::nullopt;
        QDateTime created = info.birthTime();
        if (!created.isValid()) created = info.lastModified();
        if (created < request_.createdSince) return std::nullopt;
        return MetadataItem{path, readWhereFroms(path), created};
    }

    void flushPending() {
        if (pending_.empty() || !updatesEnabled_) return;
        std::vector<DirectoryEvent> batch;
        batch.swap(pending_);
        take(batch);
    }

    void rescan() {
        results_.clear();
        const QDir dir(request_.scope);
        const QStringList names = dir.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
        for (const QString& name : names)
            if (auto item = examine(dir.filePath(name))) results_.push_back(std::move(*item));
        sortResults();
    }

    void sortResults() {
        std::stable_sort(results_.begin(), results_.end(),
                         [](const MetadataItem& a, const MetadataItem& b) { return a.creationDate > b.creationDate; });
    }

    bool remove(const QString& path) {
        return std::erase_if(results_, [&](const MetadataItem& item) { return item.path == path; }) > 0;
    }

    bool contains(const QString& path) const {
        return std::any_of(results_.begin(), results_.end(), [&](const MetadataItem& item) { return item.path == path; });
    }

    bool reexamine(const QString& path) {
        const bool removed = remove(path);
        auto item = examine(path);
        if (!item) return removed;
        results_.push_back(std::move(*item));
        return true;
    }

    void take(const std::vector<DirectoryEvent>& batch) {
        if (!updatesEnabled_ || !gathered_) {
            pending_.insert(pending_.end(), batch.begin(), batch.end());
            return;
        }
        bool changed = false;
        for (const DirectoryEvent& event : batch) {
            using Kind = DirectoryEvent::Kind;
            switch (event.kind) {
            case Kind::ClosedWrite:
            case Kind::MovedTo: changed |= reexamine(event.path); break;
            case Kind::Created:
                // A file is still being written; a folder is complete as it appears.
                if (QFileInfo(event.path).isDir()) changed |= reexamine(event.path);
                break;
            case Kind::Modified:
            case Kind::AttributesChanged:
                if (contains(event.path)) changed |= reexamine(event.path);
                break;
            case Kind::Deleted:
            case Kind::MovedFrom: changed |= remove(event.path); break;
            case Kind::Overflow:
                rescan();
                changed = true;
                break;
            }
        }
        if (!changed) return;
        sortResults();
        if (onUpdate_) onUpdate_(*this);
    }

    MetadataQueryRequest request_;
    MetadataSearch::Notice onUpdate_;
    std::unique_ptr<DirectoryWatch> watch_;
    std::vector<MetadataItem> results_;
    std::vector<DirectoryEvent> pending_;
    bool updatesEnabled_ = true;
    bool gathered_ = false;
    Scheduler* scheduler_ = nullptr;
    Lifetime lifetime_;
};

}  // namespace

MetadataSearch& MetadataSearch::system() {
    static DirectoryMetadataSearch instance;
    return instance;
}

std::unique_ptr<MetadataQuery> DirectoryMetadataSearch::start(const MetadataQueryRequest& request,
                                                              Notice onFinishGathering, Notice onUpdate) {
    auto query = std::make_unique<DirectoryMetadataQuery>(request, std::move(onUpdate));
    query->begin(watcher_, scheduler_ ? *scheduler_ : Scheduler::shared(), std::move(onFinishGathering));
    return query;
}

std::optional<QStringList> readWhereFroms(const QString& path) {
    const QByteArray encoded = QFile::encodeName(path);
    QStringList origins;
    for (const char* name : {"user.xdg.origin.url", "user.xdg.referrer.url"})
        if (auto value = readAttribute(encoded, name)) origins << *value;
    if (origins.isEmpty()) return std::nullopt;
    return origins;
}

}  // namespace platform
