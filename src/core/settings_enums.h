#pragma once

// The closed value sets of the text-valued settings. Each is stored as its raw text (the case
// name); parse with fromRawValue<E>(text), which matches exactly, letter case included, and
// gives nothing otherwise; the reader then uses its fallback (AppSettings applies them).

#include "core/enum_cases.h"

#include <QString>

enum class OverlayStyle { singlePill, splitPill, notchSheet, liquidGlass };
enum class OverlayTint { black, midnight, graphite, smoke };
enum class NotificationDetectionSource { database, ui };
enum class NotificationDisplayScreen { main, current, all };
enum class MusicNowPlayingSource { appleScript, controlCenter };
enum class MusicNotchColorMode { black, dynamic };

template <>
struct EnumCases<OverlayStyle> {
    static constexpr bool hasRawValue = true;
    static constexpr std::array<std::pair<OverlayStyle, const char*>, 4> table{{
        {OverlayStyle::singlePill, "singlePill"},
        {OverlayStyle::splitPill, "splitPill"},
        {OverlayStyle::notchSheet, "notchSheet"},
        {OverlayStyle::liquidGlass, "liquidGlass"},
    }};
};

template <>
struct EnumCases<OverlayTint> {
    static constexpr bool hasRawValue = true;
    static constexpr std::array<std::pair<OverlayTint, const char*>, 4> table{{
        {OverlayTint::black, "black"},
        {OverlayTint::midnight, "midnight"},
        {OverlayTint::graphite, "graphite"},
        {OverlayTint::smoke, "smoke"},
    }};
};

template <>
struct EnumCases<NotificationDetectionSource> {
    static constexpr bool hasRawValue = true;
    static constexpr std::array<std::pair<NotificationDetectionSource, const char*>, 2> table{{
        {NotificationDetectionSource::database, "database"},
        {NotificationDetectionSource::ui, "ui"},
    }};
};

template <>
struct EnumCases<NotificationDisplayScreen> {
    static constexpr bool hasRawValue = true;
    static constexpr std::array<std::pair<NotificationDisplayScreen, const char*>, 3> table{{
        {NotificationDisplayScreen::main, "main"},
        {NotificationDisplayScreen::current, "current"},
        {NotificationDisplayScreen::all, "all"},
    }};
};

template <>
struct EnumCases<MusicNowPlayingSource> {
    static constexpr bool hasRawValue = true;
    static constexpr std::array<std::pair<MusicNowPlayingSource, const char*>, 2> table{{
        {MusicNowPlayingSource::appleScript, "appleScript"},
        {MusicNowPlayingSource::controlCenter, "controlCenter"},
    }};
};

template <>
struct EnumCases<MusicNotchColorMode> {
    static constexpr bool hasRawValue = true;
    static constexpr std::array<std::pair<MusicNotchColorMode, const char*>, 2> table{{
        {MusicNotchColorMode::black, "black"},
        {MusicNotchColorMode::dynamic, "dynamic"},
    }};
};

// Display titles in the language in force at the call. (Inside a class that has a member named
// `title`, call these as ::title.)
QString title(OverlayStyle style);
QString title(OverlayTint tint);
