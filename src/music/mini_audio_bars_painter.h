#pragma once

// Draws the level bars of a MiniAudioBarsViewModel: rounded bars filled top to bottom from the
// accent to the accent at 0.4 opacity, the frame's origin at the painter's (0, 0). Every view of
// the bars draws through one of these.
//
//   MiniAudioBarsPainter barsPainter;            // a member: it keeps what it drew
//   barsPainter.paint(painter, model);
//
// A frame of moving bars would fill six antialiased gradient shapes; each bar is kept instead as a
// small picture, so a frame mostly copies pictures. A resting bar's picture has exactly the pixels
// a fill in place has; a moving bar's is kept by its height, taken to 1/8 of a device pixel, and
// where it starts within its pixel, so one picture serves every bar and place (no eye tells the
// difference while it moves).

#include <QColor>
#include <QHash>
#include <QImage>

class MiniAudioBarsViewModel;
class QPainter;

class MiniAudioBarsPainter {
public:
    void paint(QPainter& painter, const MiniAudioBarsViewModel& bars);

private:
    // One bar: its rectangle and radius in the painter's points, where they land on the device
    // (scale and offset), and its colours. A picture is drawn with the very coordinates a direct
    // fill would use, so it has the same pixels. A moving bar's is in device pixels (scale 1, no
    // offset), within its first pixel.
    struct Key {
        double x, y, width, height, radius;
        double scale, dx, dy;
        QRgba64 top, bottom;
        friend bool operator==(const Key&, const Key&) = default;
        friend size_t qHash(const Key& key, size_t seed = 0) {
            return qHashMulti(seed, key.x, key.y, key.width, key.height, key.radius, key.scale, key.dx, key.dy,
                              quint64(key.top), quint64(key.bottom));
        }
    };
    struct Sprite {
        QImage image;
        QPoint origin;  // device pixel of the picture's top left
    };
    const Sprite& sprite(const Key& key);

    QHash<Key, Sprite> sprites_;
};
