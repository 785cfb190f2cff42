#pragma once

// What the system-event services observe about the machine and send on the bus.

#include "core/enum_cases.h"

#include <QString>

#include <optional>

// The kinds of short system-event activity. No stored form of its own: setting keys use the case
// name (AppSettings::liveActivityKey).
enum class LiveActivityType {
    charging,
    powerDisconnect,
    bluetooth,
    volume,
    displayBrightness,
    keyboardBrightness,
    screenLock,
    screenUnlock,
    screenshot,
    airdrop,
    inputSource,
    lowBattery,
};

template <>
struct EnumCases<LiveActivityType> {
    static constexpr bool hasRawValue = false;
    static constexpr std::array<std::pair<LiveActivityType, const char*>, 12> table{{
        {LiveActivityType::charging, "charging"},
        {LiveActivityType::powerDisconnect, "powerDisconnect"},
        {LiveActivityType::bluetooth, "bluetooth"},
        {LiveActivityType::volume, "volume"},
        {LiveActivityType::displayBrightness, "displayBrightness"},
        {LiveActivityType::keyboardBrightness, "keyboardBrightness"},
        {LiveActivityType::screenLock, "screenLock"},
        {LiveActivityType::screenUnlock, "screenUnlock"},
        {LiveActivityType::screenshot, "screenshot"},
        {LiveActivityType::airdrop, "airdrop"},
        {LiveActivityType::inputSource, "inputSource"},
        {LiveActivityType::lowBattery, "lowBattery"},
    }};
};

struct BatteryInfo {
    int level = 0;  // percent, 0-100
    bool isCharging = false;
    bool isPluggedIn = false;  // on the power adapter
    friend bool operator==(const BatteryInfo&, const BatteryInfo&) = default;
};

struct VolumeInfo {
    float level = 0;  // 0-1
    bool isMuted = false;
    friend bool operator==(const VolumeInfo&, const VolumeInfo&) = default;
};

struct BrightnessInfo {
    float level = 0;  // 0-1
    friend bool operator==(const BrightnessInfo&, const BrightnessInfo&) = default;
};

enum class BluetoothDeviceCategory { appleWatch, airpods, airpodsMax, headphones, speaker, other };

template <>
struct EnumCases<BluetoothDeviceCategory> {
    static constexpr bool hasRawValue = false;
    static constexpr std::array<std::pair<BluetoothDeviceCategory, const char*>, 6> table{{
        {BluetoothDeviceCategory::appleWatch, "appleWatch"},
        {BluetoothDeviceCategory::airpods, "airpods"},
        {BluetoothDeviceCategory::airpodsMax, "airpodsMax"},
        {BluetoothDeviceCategory::headphones, "headphones"},
        {BluetoothDeviceCategory::speaker, "speaker"},
        {BluetoothDeviceCategory::other, "other"},
    }};
};

struct BluetoothDeviceInfo {
    QString name;
    BluetoothDeviceCategory category = BluetoothDeviceCategory::other;
    std::optional<int> batteryLevel;  // percent; absent until known
    friend bool operator==(const BluetoothDeviceInfo&, const BluetoothDeviceInfo&) = default;
};

// The empty record (both texts empty) is what the input-source view starts from.
struct InputSourceInfo {
    QString id;    // the system identifier of the input source
    QString name;  // its display name
    friend bool operator==(const InputSourceInfo&, const InputSourceInfo&) = default;
};
