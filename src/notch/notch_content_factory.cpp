#include "notch/notch_content_factory.h"

#include "notch/expanded_notch_view.h"
#include "notch/mini_player_view.h"

NotchPlaceholderView::NotchPlaceholderView(const QString& name, QWidget* parent) : QWidget(parent), name_(name) {
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_NoSystemBackground);
    setObjectName(name);
}

NotchContentFactory& NotchContentFactory::standard() {
    static NotchContentFactory factory{
        .liveActivity = {},
        .updateLiveActivity = {},
        .miniPlayer = [](QWidget* parent) -> QWidget* { return new MiniPlayerView(parent); },
        .expanded = [](QWidget* parent) -> QWidget* { return new ExpandedNotchView(parent); },
        .glance = {},
        .drop = {},
        .switcher = {},
    };
    return factory;
}

namespace {

QWidget* makeOr(const NotchContentFactory::Maker& maker, const char* name, QWidget* parent) {
    if (maker) return maker(parent);
    return new NotchPlaceholderView(QString::fromLatin1(name), parent);
}

}  // namespace

QWidget* NotchContentFactory::makeLiveActivity(LiveActivityType type, QWidget* parent) const {
    if (liveActivity) return liveActivity(type, parent);
    return new NotchPlaceholderView(QStringLiteral("liveActivity"), parent);
}

QWidget* NotchContentFactory::makeMiniPlayer(QWidget* parent) const { return makeOr(miniPlayer, "miniPlayer", parent); }
QWidget* NotchContentFactory::makeExpanded(QWidget* parent) const { return makeOr(expanded, "expanded", parent); }
QWidget* NotchContentFactory::makeGlance(QWidget* parent) const { return makeOr(glance, "glance", parent); }
QWidget* NotchContentFactory::makeDrop(QWidget* parent) const { return makeOr(drop, "drop", parent); }
QWidget* NotchContentFactory::makeSwitcher(QWidget* parent) const { return makeOr(switcher, "switcher", parent); }
