#pragma once

#include <QImage>
#include <QJsonObject>
#include <QString>

#include <optional>

// What one "query" reply of the now-playing helper says.
struct MediaRemoteSnapshot {
    bool isPlaying = false;
    std::optional<QString> title;
    std::optional<QString> artist;
    std::optional<QString> album;
    std::optional<QImage> artwork;
    std::optional<double> duration;     // seconds
    std::optional<double> elapsedTime;  // seconds
    std::optional<double> playbackRate;
    std::optional<QString> bundleIdentifier;

    // Reads a reply without an "error" member. Members of the wrong kind count as absent; a
    // missing title falls back to the bundle identifier, then to "Now Playing". `summary`
    // receives the one-line description of the reply as sent (before that fallback).
    static MediaRemoteSnapshot fromReply(const QJsonObject& reply, QString* summary = nullptr);
};
