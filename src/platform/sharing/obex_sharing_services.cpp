#include "platform/sharing/obex_sharing_services.h"

#include "platform/sharing/obex.h"
#include "platform/sharing/obex_object_push.h"

#include <QFileInfo>

#include <algorithm>
#include <map>
#include <utility>

namespace platform {

namespace {

const QString kBlueZ = QStringLiteral("org.bluez");
const QString kAdapter = QStringLiteral("org.bluez.Adapter1");
const QString kDevice = QStringLiteral("org.bluez.Device1");
const QString kBusService = QStringLiteral("org.freedesktop.DBus");

using obex::log;

}  // namespace

struct ObexSharingServices::State : std::enable_shared_from_this<State> {
    State(DBusConnection& session, DBusConnection& system, ProcessLauncher& launcher, NearbyDeviceChooser* chooser,
          Scheduler* scheduler, Config config)
        : session(session), system(system), launcher(launcher), chooser(chooser), scheduler(scheduler),
          config(std::move(config)) {}

    DBusConnection& session;
    DBusConnection& system;
    ProcessLauncher& launcher;
    NearbyDeviceChooser* chooser;
    Scheduler* scheduler;
    Config config;
    std::map<uint64_t, std::unique_ptr<ObexObjectPush>> pushes;
    uint64_t nextPush = 0;
    std::vector<std::unique_ptr<ChildProcess>> tools;
    RepeatingTimer toolPoll;

    QString desktopSender() const {
        for (const QString& tool : config.desktopSenders)
            if (QFileInfo(tool).isExecutable()) return tool;
        return {};
    }

    bool obexdReachable() {
        const DBusReply owner = session.call({kBusService, QStringLiteral("/org/freedesktop/DBus"), kBusService,
                                              QStringLiteral("NameHasOwner"), {obex::service}},
                                             lookupTimeout);
        if (!owner.ok()) return false;
        if (owner.value().toBool()) return true;
        // Desktops start obexd on demand, at the first call.
        const DBusReply activatable = session.call({kBusService, QStringLiteral("/org/freedesktop/DBus"), kBusService,
                                                    QStringLiteral("ListActivatableNames"), {}},
                                                   lookupTimeout);
        return activatable.ok() && activatable.value().toStringList().contains(obex::service);
    }

    void push(const QString& address, const QStringList& files) {
        const uint64_t id = nextPush++;
        std::weak_ptr<State> weak = weak_from_this();
        auto sending = std::make_unique<ObexObjectPush>(session, address, files, [weak, id] {
            if (auto state = weak.lock()) state->pushes.erase(id);
        });
        ObexObjectPush& started = *sending;
        pushes.emplace(id, std::move(sending));
        started.start();
    }

    void runTool(const QString& tool, const QStringList& files) {
        QString error;
        std::unique_ptr<ChildProcess> child = launcher.start(ProcessSpec{tool, files, ProcessSpec::Stderr::Discard, QString()}, &error);
        if (!child) {
            log(LogLevel::Error, QStringLiteral("ObjectPush: Could not start ") + tool + QStringLiteral(": ") + error);
            return;
        }
        child->closeInput();
        tools.push_back(std::move(child));
        if (toolPoll.isValid()) return;
        Scheduler& clock = scheduler ? *scheduler : Scheduler::shared();
        toolPoll = clock.every(config.toolPollInterval, [weak = weak_from_this()] {
            auto state = weak.lock();
            if (!state) return;
            // Its output is not read: drained, so a chatty tool never blocks on a full pipe.
            std::erase_if(state->tools, [](const std::unique_ptr<ChildProcess>& tool) {
                tool->discardPendingOutput();
                return !tool->isRunning();
            });
            if (state->tools.empty()) state->toolPoll.invalidate();
        });
    }
};

class ObexSharingServices::Service final : public SharingService {
public:
    Service(std::weak_ptr<State> state, std::vector<NearbyDevice> devices, QString tool)
        : state_(std::move(state)), devices_(std::move(devices)), tool_(std::move(tool)) {}

    // Local files, and someone to send them to.
    bool canPerform(const QList<QUrl>& items) const override {
        if (items.isEmpty() || (tool_.isEmpty() && devices_.empty())) return false;
        return std::all_of(items.begin(), items.end(),
                           [](const QUrl& url) { return url.isLocalFile() && !url.toLocalFile().isEmpty(); });
    }

    void perform(const QList<QUrl>& items) override {
        auto state = state_.lock();
        if (!state || !canPerform(items)) return;
        QStringList files;
        for (const QUrl& url : items) files.append(url.toLocalFile());
        if (!tool_.isEmpty()) {
            state->runTool(tool_, files);
            return;
        }
        NearbyDeviceChooser& chooser = state->chooser ? *state->chooser : NearbyDeviceChooser::shared();
        std::vector<QString> offered;
        for (const NearbyDevice& device : devices_) offered.push_back(device.address);
        chooser.choose(devices_, static_cast<int>(files.size()),
                       [weak = state_, files, offered](std::optional<QString> address) {
                           auto state = weak.lock();
                           if (!state) return;
                           if (!address || std::find(offered.begin(), offered.end(), *address) == offered.end()) {
                               log(LogLevel::Debug, QStringLiteral("ObjectPush: No device chosen"));
                               return;
                           }
                           state->push(*address, files);
                       });
    }

private:
    std::weak_ptr<State> state_;
    std::vector<NearbyDevice> devices_;
    QString tool_;
};

ObexSharingServices::ObexSharingServices(DBusConnection& sessionBus, DBusConnection& systemBus, ProcessLauncher& launcher,
                                         NearbyDeviceChooser* chooser, Scheduler* scheduler, Config config)
    : state_(std::make_shared<State>(sessionBus, systemBus, launcher, chooser, scheduler, std::move(config))) {}

ObexSharingServices::~ObexSharingServices() = default;

std::shared_ptr<SharingService> ObexSharingServices::service(const QString& name) {
    if (name != sendViaAirDrop) return nullptr;
    if (!state_->obexdReachable()) return nullptr;
    const DBusReply objects = state_->system.call(
        {kBlueZ, QStringLiteral("/"), QStringLiteral("org.freedesktop.DBus.ObjectManager"), QStringLiteral("GetManagedObjects"), {}},
        lookupTimeout);
    if (!objects.ok()) return nullptr;
    Radio radio = radioFrom(objects.value().toMap());
    if (!radio.powered) return nullptr;
    return std::make_shared<Service>(state_, std::move(radio.devices), state_->desktopSender());
}

ObexSharingServices::Radio ObexSharingServices::radioFrom(const QVariantMap& managedObjects) {
    Radio radio;
    for (auto it = managedObjects.begin(); it != managedObjects.end(); ++it) {
        const QVariantMap interfaces = it->toMap();
        if (interfaces.contains(kAdapter) && interfaces.value(kAdapter).toMap().value(QStringLiteral("Powered")).toBool())
            radio.powered = true;
        const auto device = interfaces.find(kDevice);
        if (device == interfaces.end()) continue;
        const QVariantMap properties = device->toMap();
        const QString address = properties.value(QStringLiteral("Address")).toString();
        if (!properties.value(QStringLiteral("Paired")).toBool() || address.isEmpty()) continue;
        const QStringList uuids = properties.value(QStringLiteral("UUIDs")).toStringList();
        if (!uuids.contains(obex::objectPushUuid, Qt::CaseInsensitive)) continue;
        QString name = properties.value(QStringLiteral("Alias")).toString();
        if (name.isEmpty()) name = properties.value(QStringLiteral("Name")).toString();
        if (name.isEmpty()) name = address;
        radio.devices.push_back({name, address});
    }
    std::stable_sort(radio.devices.begin(), radio.devices.end(), [](const NearbyDevice& a, const NearbyDevice& b) {
        return QString::localeAwareCompare(a.name, b.name) < 0;
    });
    return radio;
}

int ObexSharingServices::sendsInProgress() const {
    return static_cast<int>(state_->pushes.size() + state_->tools.size());
}

}  // namespace platform
