#include "detection/ax_tree_snapshot.h"

#include "core/image_helper.h"
#include "core/log.h"
#include "core/wall_clock.h"
#include "detection/ax_signature_hasher.h"
#include "detection/ax_text_filters.h"
#include "platform/runtime/dispatch.h"
#include "platform/workspace/workspace.h"

#include <QStringList>

#include <algorithm>
#include <cmath>
#include <deque>
#include <map>
#include <variant>
#include <vector>

using platform::AXAttributeValue;
using platform::AXElement;
using platform::AXElementList;
using platform::AXError;

namespace {

const QString kRole = QStringLiteral("AXRole");
const QString kSubrole = QStringLiteral("AXSubrole");
const QString kIdentifier = QStringLiteral("AXIdentifier");
const QString kChildren = QStringLiteral("AXChildren");
const QString kWindows = QStringLiteral("AXWindows");
const QString kValue = QStringLiteral("AXValue");
const QString kTitle = QStringLiteral("AXTitle");
const QString kDescription = QStringLiteral("AXDescription");
const QString kImage = QStringLiteral("AXImage");

struct AppNameCandidate {
    QString text;
    int depth;
    QString role;
};

// Reads of one element. Each attribute is asked for at most once per element and reading, so
// the walk's cross-process calls stay as few as its steps allow.
class ElementReader {
public:
    ElementReader(platform::Accessibility& ax, const AXElement& element) : ax_(ax), element_(element) {}

    std::optional<QString> string(const QString& name) {
        const AXAttributeValue* v = value(name);
        if (!v) return std::nullopt;
        if (auto s = std::get_if<QString>(v)) return *s;
        return std::nullopt;
    }
    std::optional<QString> lowered(const QString& name) {
        auto s = string(name);
        if (s) return s->toLower();
        return std::nullopt;
    }
    AXElementList elements(const QString& name) {
        const AXAttributeValue* v = value(name);
        if (!v) return {};
        if (auto list = std::get_if<AXElementList>(v)) return *list;
        return {};
    }
    std::optional<QImage> image(const QString& name) {
        const AXAttributeValue* v = value(name);
        if (!v) return std::nullopt;
        if (auto img = std::get_if<QImage>(v); img && !img->isNull()) return *img;
        return std::nullopt;
    }
    // "AXValue" when it is a text, else "AXTitle" when it is a text.
    std::optional<QString> text() {
        if (auto v = string(kValue)) return v;
        return string(kTitle);
    }

private:
    const AXAttributeValue* value(const QString& name) {
        auto it = cache_.find(name);
        if (it == cache_.end()) {
            AXAttributeValue v;
            std::optional<AXAttributeValue> stored;
            if (ax_.copyAttributeValue(element_, name, v) == AXError::Success) stored = std::move(v);
            it = cache_.emplace(name, std::move(stored)).first;
        }
        return it->second ? &*it->second : nullptr;
    }

    platform::Accessibility& ax_;
    AXElement element_;
    std::map<QString, std::optional<AXAttributeValue>> cache_;
};

bool isNotificationContainer(ElementReader& reader) {
    for (const QString& name : {kRole, kSubrole, kIdentifier}) {
        auto text = reader.lowered(name);
        if (!text) continue;
        if (text->contains(QLatin1String("notification")) || text->contains(QLatin1String("banner")) ||
            text->contains(QLatin1String("alert")))
            return true;
    }
    return false;
}

std::optional<QByteArray> imageDataForElement(ElementReader& reader) {
    auto description = reader.lowered(kDescription);
    auto image = reader.image(kImage);
    if (!image) return std::nullopt;
    if (description && (description->contains(QLatin1String("icon")) || description->contains(QLatin1String("app"))))
        return ImageHelper::pngData(*image);
    const QSizeF size = image->deviceIndependentSize();
    if (size.width() > 16 && size.height() > 16 && std::abs(size.width() - size.height()) < 10)
        return ImageHelper::pngData(*image);
    return std::nullopt;
}

// A running application's name, when it has one worth comparing.
std::optional<QString> nameOf(const platform::RunningApplication& app) {
    if (app.localizedName && !app.localizedName->isEmpty()) return app.localizedName;
    return std::nullopt;
}

std::optional<QString> pickAppName(std::vector<AppNameCandidate> candidates,
                                   const std::vector<platform::RunningApplication>& running) {
    if (candidates.empty()) return std::nullopt;
    QStringList runningNames;
    for (const auto& app : running)
        if (auto name = nameOf(app)) runningNames << name->toLower();

    std::stable_sort(candidates.begin(), candidates.end(), [](const AppNameCandidate& a, const AppNameCandidate& b) {
        if (a.depth != b.depth) return a.depth < b.depth;
        return AXTextFilters::characterCount(a.text) < AXTextFilters::characterCount(b.text);
    });

    const QString count = QString::number(candidates.size());
    // One substitution pass, so a name holding "%2" is logged as read.
    auto selected = [&count](const QString& text) {
        return QStringLiteral("AXTreeSnapshot: Selected app name '%1' from %2 candidates").arg(text, count);
    };
    for (const auto& candidate : candidates) {
        const QString l = candidate.text.toLower();
        if (runningNames.contains(l)) {
            Log::shared().debug(selected(candidate.text) + QStringLiteral(" (exact match)"));
            return candidate.text;
        }
        for (const auto& name : runningNames) {
            if (name.contains(l) || l.contains(name)) {
                Log::shared().debug(selected(candidate.text) + QStringLiteral(" (partial match with '%1')").arg(name));
                return candidate.text;
            }
        }
    }
    const QString chosen = candidates.front().text;
    Log::shared().debug(selected(chosen) + QStringLiteral(" (no running app match)"));
    return chosen;
}

std::optional<platform::RunningApplication> firstRunning(const platform::Workspace& workspace,
                                                         const QString& bundleId) {
    auto apps = workspace.runningApplicationsWithBundleIdentifier(bundleId);
    if (apps.empty()) return std::nullopt;
    return apps.front();
}

struct WalkResult {
    QStringList texts;
    int64_t count = 0;
    std::optional<QString> message;
    std::optional<QString> appName;
    std::optional<QByteArray> appIconData;
    std::optional<QString> bundleId;
    int64_t signature = 0;
    AXElementList windows;
};

WalkResult countAndExtract(platform::Accessibility& ax, const platform::Workspace& workspace,
                           const AXElementList& roots) {
    struct Entry {
        AXElement element;
        int depth;
        bool inside;
    };
    std::deque<Entry> queue;
    for (const auto& root : roots) queue.push_back({root, 0, false});

    AXSignatureHasher hasher;
    int taken = 0;
    int64_t groups = 0;
    int64_t largestList = 0;
    std::optional<QByteArray> icon;
    QStringList insideTexts;
    QStringList otherTexts;
    QStringList bundleIds;
    std::vector<AppNameCandidate> candidates;

    while (!queue.empty() && taken < AXTreeSnapshot::maxEntries) {
        const Entry entry = queue.front();
        queue.pop_front();
        ++taken;
        if (entry.depth > AXTreeSnapshot::maxDepth) continue;

        ElementReader reader(ax, entry.element);
        if (auto role = reader.string(kRole)) {
            hasher.feed(*role);
            if (*role == QLatin1String("AXList") || *role == QLatin1String("AXOutline"))
                largestList = std::max<int64_t>(largestList, static_cast<int64_t>(reader.elements(kChildren).size()));
            if (*role == QLatin1String("AXGroup")) {
                auto subrole = reader.lowered(kSubrole);
                auto identifier = reader.lowered(kIdentifier);
                if (subrole) hasher.feed(*subrole);
                if (identifier) hasher.feed(*identifier);
                if ((subrole && subrole->contains(QLatin1String("notification"))) ||
                    (identifier && identifier->contains(QLatin1String("notification"))))
                    ++groups;
            }
            if (entry.inside) {
                auto text = reader.text();
                if (text && AXTextFilters::shouldKeepAsAppName(*text))
                    candidates.push_back({*text, entry.depth, *role});
                auto identifier = reader.string(kIdentifier);
                if (identifier && AXTextFilters::isValidBundleId(*identifier)) bundleIds << *identifier;
                if (!icon && (*role == QLatin1String("AXImage") || *role == QLatin1String("AXButton")))
                    icon = imageDataForElement(reader);
            }
        }

        const bool insideNow = entry.inside || isNotificationContainer(reader);
        if (auto text = reader.text(); text && AXTextFilters::shouldKeep(*text)) {
            hasher.feed(*text);
            QStringList& list = insideNow ? insideTexts : otherTexts;
            if (list.size() < AXTreeSnapshot::maxTextsPerList) list << *text;
        }

        // Entries beyond the bound could never be taken, so they are not queued at all.
        for (const auto& child : reader.elements(kChildren)) {
            if (taken + static_cast<int>(queue.size()) >= AXTreeSnapshot::maxEntries) break;
            queue.push_back({child, entry.depth + 1, insideNow});
        }
    }
    hasher.feed(static_cast<int64_t>(taken));

    WalkResult result;
    result.texts = insideTexts + otherTexts;
    result.signature = hasher.finalize();
    result.count = largestList >= 1 ? largestList : groups;
    if (!insideTexts.isEmpty())
        result.message = insideTexts.front();
    else if (!otherTexts.isEmpty())
        result.message = otherTexts.front();
    result.appIconData = icon;
    result.appName = pickAppName(std::move(candidates), workspace.runningApplications());

    if (!bundleIds.isEmpty()) {
        const QString bundleId = bundleIds.front();
        result.bundleId = bundleId;
        const auto app = firstRunning(workspace, bundleId);
        const auto runningName = app ? nameOf(*app) : std::nullopt;
        if (!result.appName && runningName) {
            result.appName = runningName;
            Log::shared().debug(
                QStringLiteral("AXTreeSnapshot: Got app name '%1' from bundle ID '%2'").arg(*runningName, bundleId));
        }
        if (result.appName && runningName && result.appName->toLower() != runningName->toLower()) {
            Log::shared().debug(
                QStringLiteral("AXTreeSnapshot: App name mismatch - replacing '%1' with '%2' from bundle ID")
                    .arg(*result.appName, *runningName));
            result.appName = runningName;
        }
    }
    return result;
}

}  // namespace

AXTreeSnapshot::Sources AXTreeSnapshot::Sources::shared() {
    return {platform::Accessibility::shared(), platform::Workspace::shared(), platform::Scheduler::shared()};
}

std::optional<AXTreeSnapshot> AXTreeSnapshot::take() { return take(Sources::shared()); }

std::optional<AXElement> AXTreeSnapshot::notificationCenterAppElement(const Sources& sources) {
    // The process that owns the desktop's notification service, where the backend knows it.
    if (auto pid = sources.accessibility.notificationServerPID()) return sources.accessibility.createApplication(*pid);
    for (const char* bundleId : {"com.apple.notificationcenterui", "com.apple.notificationcenter",
                                 "com.apple.usernotificationcenter", "com.apple.systemuiserver"}) {
        if (auto found = firstRunning(sources.workspace, QString::fromLatin1(bundleId)))
            return sources.accessibility.createApplication(static_cast<int32_t>(found->processIdentifier));
    }
    return std::nullopt;
}

namespace {

AXTreeSnapshot snapshotOf(const WalkResult& walk, const AXTreeSnapshot::Sources& sources) {
    AXTreeSnapshot snapshot;
    snapshot.notificationCount = walk.count;
    snapshot.timestamp = wallClockNow(sources.scheduler);
    snapshot.message = walk.message;
    snapshot.appName = walk.appName;
    snapshot.appIconData = walk.appIconData;
    snapshot.bundleId = walk.bundleId;
    snapshot.signature = walk.signature;
    snapshot.texts = walk.texts;
    snapshot.windows = walk.windows;
    return snapshot;
}

// The last walk of a tree whose backend tells when it changes: a poll over an unchanged tree
// reuses it instead of walking again. Main thread only, like every reading.
struct LastWalk {
    const platform::Accessibility* backend = nullptr;
    int32_t pid = 0;
    uint64_t generation = 0;
    WalkResult walk;
};

}  // namespace

std::optional<AXTreeSnapshot> AXTreeSnapshot::take(const Sources& sources) {
    if (!sources.accessibility.isProcessTrusted()) return std::nullopt;
    const std::optional<AXElement> app = notificationCenterAppElement(sources);
    if (!app) return std::nullopt;

    static std::optional<LastWalk> last;
    const auto generation = sources.accessibility.treeGeneration(app->pid());
    if (generation && last && last->backend == &sources.accessibility && last->pid == app->pid() &&
        last->generation == *generation)
        return snapshotOf(last->walk, sources);

    ElementReader appReader(sources.accessibility, *app);
    AXElementList roots = appReader.elements(kWindows);
    if (roots.empty()) roots.push_back(*app);
    WalkResult walk = countAndExtract(sources.accessibility, sources.workspace, roots);
    if (roots.front() != *app) walk.windows = roots;
    if (generation)
        last = LastWalk{&sources.accessibility, app->pid(), *generation, walk};
    else
        last.reset();
    return snapshotOf(walk, sources);
}

std::optional<AXTreeSnapshot> AXTreeSnapshot::take(const Sources& sources, const AXElementList& roots) {
    if (!sources.accessibility.isProcessTrusted() || roots.empty()) return std::nullopt;
    return snapshotOf(countAndExtract(sources.accessibility, sources.workspace, roots), sources);
}
