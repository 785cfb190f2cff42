#pragma once

// Case names, case lists and raw-text parsing for the small enumerations of the model.
// An enumeration opts in by specialising EnumCases with its cases in declaration order; one
// whose stored form is its case name also sets `hasRawValue`.

#include <QLatin1String>
#include <QString>

#include <array>
#include <concepts>
#include <cstddef>
#include <optional>
#include <utility>

template <class E>
struct EnumCases;

template <class E>
concept NamedEnum = requires {
    EnumCases<E>::table;
    { EnumCases<E>::table.size() } -> std::convertible_to<std::size_t>;
};

template <class E>
concept RawTextEnum = NamedEnum<E> && EnumCases<E>::hasRawValue;

// The case name as written in code ("splitPill", "lowBattery"); also what logs print.
template <NamedEnum E>
QString caseName(E value) {
    for (const auto& [candidate, name] : EnumCases<E>::table) {
        if (candidate == value) return QString::fromLatin1(name);
    }
    return QString();
}

// Every case, in declaration order.
template <NamedEnum E>
constexpr auto allCases() {
    constexpr auto& table = EnumCases<E>::table;
    std::array<E, table.size()> cases{};
    for (std::size_t i = 0; i < table.size(); ++i) cases[i] = table[i].first;
    return cases;
}

// The stored text of a case; equal to its case name.
template <RawTextEnum E>
QString rawValue(E value) {
    return caseName(value);
}

// Exact, case-sensitive match of one of the case texts; anything else gives nothing.
template <RawTextEnum E>
std::optional<E> fromRawValue(const QString& text) {
    for (const auto& [candidate, name] : EnumCases<E>::table) {
        if (text == QLatin1String(name)) return candidate;
    }
    return std::nullopt;
}
