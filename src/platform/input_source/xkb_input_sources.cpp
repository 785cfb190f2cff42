#include "platform/input_source/xkb_input_sources.h"

#include "platform/input_source/desktop_input_sources.h"

#include <QSocketNotifier>

#include <xcb/xcb.h>
// xkb.h names a field `explicit`, a C++ keyword.
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit

#include <cstdlib>
#include <cstring>
#include <map>
#include <vector>
#include <utility>

namespace platform {

namespace {

template <class T>
struct FreeDeleter {
    void operator()(T* p) const { std::free(p); }
};
template <class T>
using Reply = std::unique_ptr<T, FreeDeleter<T>>;

QString atomName(xcb_connection_t* c, xcb_atom_t atom) {
    if (atom == XCB_ATOM_NONE) return {};
    Reply<xcb_get_atom_name_reply_t> reply(xcb_get_atom_name_reply(c, xcb_get_atom_name(c, atom), nullptr));
    if (!reply) return {};
    return QString::fromUtf8(xcb_get_atom_name_name(reply.get()), xcb_get_atom_name_name_length(reply.get()));
}

// The rules names the server's keymap was built from: rules, model, layouts, variants, options.
QStringList rulesNames(xcb_connection_t* c, xcb_window_t root) {
    static const char kName[] = "_XKB_RULES_NAMES";
    Reply<xcb_intern_atom_reply_t> atom(
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 1, sizeof(kName) - 1, kName), nullptr));
    if (!atom || atom->atom == XCB_ATOM_NONE) return {};
    Reply<xcb_get_property_reply_t> property(xcb_get_property_reply(
        c, xcb_get_property(c, 0, root, atom->atom, XCB_ATOM_STRING, 0, 1024), nullptr));
    if (!property || property->format != 8) return {};
    const QByteArray bytes(static_cast<const char*>(xcb_get_property_value(property.get())),
                           xcb_get_property_value_length(property.get()));
    QStringList fields;
    for (const QByteArray& field : bytes.split('\0')) fields.append(QString::fromUtf8(field));
    return fields;
}

}  // namespace

struct XkbInputSources::Connection {
    xcb_connection_t* c = nullptr;
    xcb_window_t root = 0;
    uint8_t firstEvent = 0;
    bool eventsSelected = false;
    std::unique_ptr<QSocketNotifier> notifier;
    using Handlers = std::map<uint64_t, std::shared_ptr<std::function<void()>>>;
    std::shared_ptr<Handlers> handlers = std::make_shared<Handlers>();
    uint64_t nextHandler = 0;

    ~Connection() {
        notifier.reset();
        if (c) xcb_disconnect(c);
    }
};

XkbInputSources::XkbInputSources(QByteArray displayName) : displayName_(std::move(displayName)) {}

XkbInputSources::~XkbInputSources() = default;

bool XkbInputSources::connect() {
    if (connection_) return connection_->c != nullptr;
    connection_ = std::make_unique<Connection>();
    const QByteArray display = displayName_.isEmpty() ? qgetenv("DISPLAY") : displayName_;
    if (display.isEmpty()) return false;
    int screenNumber = 0;
    xcb_connection_t* c = xcb_connect(display.constData(), &screenNumber);
    if (xcb_connection_has_error(c)) {
        xcb_disconnect(c);
        return false;
    }
    Reply<xcb_xkb_use_extension_reply_t> use(xcb_xkb_use_extension_reply(
        c, xcb_xkb_use_extension(c, XCB_XKB_MAJOR_VERSION, XCB_XKB_MINOR_VERSION), nullptr));
    const xcb_query_extension_reply_t* extension = xcb_get_extension_data(c, &xcb_xkb_id);
    if (!use || !use->supported || !extension || !extension->present) {
        xcb_disconnect(c);
        return false;
    }
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(c));
    for (int i = 0; i < screenNumber && screens.rem; ++i) xcb_screen_next(&screens);
    connection_->root = screens.rem ? screens.data->root : 0;
    connection_->firstEvent = extension->first_event;
    connection_->c = c;
    return true;
}

std::optional<QString> XkbInputSources::layoutIdentifier(const QString& layouts, const QString& variants, int group) {
    const QStringList layoutList = layouts.split(QLatin1Char(','));
    const QStringList variantList = variants.split(QLatin1Char(','));
    if (group < 0 || group >= layoutList.size()) return std::nullopt;
    const QString layout = layoutList.at(group).trimmed();
    if (layout.isEmpty()) return std::nullopt;
    const QString variant = group < variantList.size() ? variantList.at(group).trimmed() : QString();
    return variant.isEmpty() ? layout : layout + QLatin1Char('(') + variant + QLatin1Char(')');
}

std::optional<InputSource> XkbInputSources::currentSource() {
    if (!connect()) return std::nullopt;
    xcb_connection_t* c = connection_->c;
    // Waiting for a reply moves any event read before it into xcb's queue, where the socket
    // notifier cannot see it: take them once the replies are in, and answer them from the loop.
    struct Drain {
        XkbInputSources* self;
        ~Drain() {
            Connection& connection = *self->connection_;
            if (!connection.eventsSelected || !self->takeEvents(false)) return;
            QMetaObject::invokeMethod(connection.notifier.get(), [self = self] { self->notifyHandlers(); },
                                      Qt::QueuedConnection);
        }
    } drain{this};
    Reply<xcb_xkb_get_state_reply_t> state(
        xcb_xkb_get_state_reply(c, xcb_xkb_get_state(c, XCB_XKB_ID_USE_CORE_KBD), nullptr));
    if (!state) return std::nullopt;
    const int group = state->group;

    InputSource source;
    const QStringList rules = rulesNames(c, connection_->root);
    if (rules.size() >= 4) source.id = layoutIdentifier(rules.at(2), rules.at(3), group);

    Reply<xcb_xkb_get_names_reply_t> names(xcb_xkb_get_names_reply(
        c, xcb_xkb_get_names(c, XCB_XKB_ID_USE_CORE_KBD, XCB_XKB_NAME_DETAIL_GROUP_NAMES), nullptr));
    if (names && (names->groupNames & (1u << group))) {
        xcb_xkb_get_names_value_list_t values;
        std::memset(&values, 0, sizeof values);
        xcb_xkb_get_names_value_list_unpack(xcb_xkb_get_names_value_list(names.get()), names->nTypes, names->indicators,
                                            names->virtualMods, names->groupNames, names->nKeys, names->nKeyAliases,
                                            names->nRadioGroups, names->which, &values);
        // The groups' names come packed: only the groups that have one, in group order.
        int index = 0;
        for (int g = 0; g < group; ++g) index += (names->groupNames >> g) & 1u;
        const QString name = atomName(c, values.groups[index]);
        if (!name.isEmpty()) source.localizedName = name;
    }
    return source;
}

AnyCancellable XkbInputSources::observeSelectionChanges(std::function<void()> handler) {
    if (!connect()) return {};
    Connection& connection = *connection_;
    if (!connection.eventsSelected) {
        xcb_xkb_select_events_details_t details;
        std::memset(&details, 0, sizeof details);
        details.affectState = details.stateDetails = XCB_XKB_STATE_PART_GROUP_STATE;
        details.affectNewKeyboard = details.newKeyboardDetails = XCB_XKB_NKN_DETAIL_KEYCODES;
        details.affectNames = details.namesDetails = XCB_XKB_NAME_DETAIL_GROUP_NAMES | XCB_XKB_NAME_DETAIL_SYMBOLS;
        const uint16_t events = XCB_XKB_EVENT_TYPE_STATE_NOTIFY | XCB_XKB_EVENT_TYPE_NEW_KEYBOARD_NOTIFY |
                                XCB_XKB_EVENT_TYPE_NAMES_NOTIFY;
        xcb_xkb_select_events_aux(connection.c, XCB_XKB_ID_USE_CORE_KBD, events, 0, 0, 0, 0, &details);
        xcb_flush(connection.c);
        connection.notifier = std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(connection.c), QSocketNotifier::Read);
        QObject::connect(connection.notifier.get(), &QSocketNotifier::activated, [this] { readEvents(); });
        connection.eventsSelected = true;
    }
    const uint64_t id = connection.nextHandler++;
    connection.handlers->emplace(id, std::make_shared<std::function<void()>>(std::move(handler)));
    std::weak_ptr<Connection::Handlers> weak = connection.handlers;
    return AnyCancellable([weak, id] {
        if (auto handlers = weak.lock()) handlers->erase(id);
    });
}

bool XkbInputSources::takeEvents(bool fromSocket) {
    Connection& connection = *connection_;
    bool changed = false;
    while (xcb_generic_event_t* event =
               fromSocket ? xcb_poll_for_event(connection.c) : xcb_poll_for_queued_event(connection.c)) {
        if ((event->response_type & 0x7f) == connection.firstEvent) {
            const uint8_t xkbType = reinterpret_cast<const uint8_t*>(event)[1];
            changed = changed || xkbType == XCB_XKB_STATE_NOTIFY || xkbType == XCB_XKB_NEW_KEYBOARD_NOTIFY ||
                      xkbType == XCB_XKB_NAMES_NOTIFY;
        }
        std::free(event);
    }
    return changed;
}

void XkbInputSources::readEvents() {
    Connection& connection = *connection_;
    const bool changed = takeEvents(true);
    if (xcb_connection_has_error(connection.c)) connection.notifier->setEnabled(false);  // the server went away
    if (changed) notifyHandlers();
}

void XkbInputSources::notifyHandlers() {
    Connection& connection = *connection_;
    // A handler may cancel itself or another: call copies.
    std::vector<std::shared_ptr<std::function<void()>>> handlers;
    std::weak_ptr<Connection::Handlers> registered = connection.handlers;
    for (const auto& [id, handler] : *connection.handlers) handlers.push_back(handler);
    for (const auto& handler : handlers) {
        // Skip a handler cancelled by an earlier one.
        auto live = registered.lock();
        if (!live) return;
        bool present = false;
        for (const auto& [id, h] : *live) present = present || h == handler;
        if (present) (*handler)();
    }
}

namespace {
InputSources* sourcesOverride = nullptr;
}

InputSources& InputSources::shared() {
    if (sourcesOverride) return *sourcesOverride;
    static auto* sources = new DesktopInputSources(std::make_unique<XkbInputSources>());
    return *sources;
}

InputSources* InputSources::setShared(InputSources* sources) { return std::exchange(sourcesOverride, sources); }

}  // namespace platform
