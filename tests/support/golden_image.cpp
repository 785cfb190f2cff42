#include "support/golden_image.h"

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>
#include <QWidget>

#include <cstdlib>
#include <memory>
#include <tuple>

namespace testsupport {

namespace {

// Antialiased edges and glyphs may move by a shade between FreeType builds, on a few pixels; a size
// or place that changes moves far more pixels, and a colour off by 3 % fails wherever it is painted.
constexpr int channelTolerance = 6;
constexpr double allowedFraction = 0.002;

QImage render(QSize size, double ratio, const PaintFunction& paint) {
    QImage image(size * ratio, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    paint(painter);
    painter.end();
    return image.convertToFormat(QImage::Format_ARGB32);
}

bool near(QRgb a, QRgb b) {
    return std::abs(qRed(a) - qRed(b)) <= channelTolerance && std::abs(qGreen(a) - qGreen(b)) <= channelTolerance &&
           std::abs(qBlue(a) - qBlue(b)) <= channelTolerance && std::abs(qAlpha(a) - qAlpha(b)) <= channelTolerance;
}

// The pixels that differ in red over a faded copy of the actual picture; the count of them.
std::pair<QImage, qint64> difference(const QImage& actual, const QImage& expected) {
    QImage diff(actual.size(), QImage::Format_ARGB32);
    qint64 differing = 0;
    for (int y = 0; y < actual.height(); ++y) {
        const auto* a = reinterpret_cast<const QRgb*>(actual.constScanLine(y));
        const auto* e = reinterpret_cast<const QRgb*>(expected.constScanLine(y));
        auto* d = reinterpret_cast<QRgb*>(diff.scanLine(y));
        for (int x = 0; x < actual.width(); ++x) {
            const bool same = near(a[x], e[x]);
            differing += same ? 0 : 1;
            const int grey = qGray(a[x]) / 4;
            d[x] = same ? qRgb(grey, grey, grey) : qRgb(255, 0, 0);
        }
    }
    return {diff, differing};
}

}  // namespace

::testing::AssertionResult matchesGolden(const QString& goldenDir, const QString& name, QSize size,
                                         const PaintFunction& paint) {
    const bool update = qEnvironmentVariable("QUILLVEX_UPDATE_GOLDENS") == QLatin1String("1");
    std::unique_ptr<QTemporaryDir> failures;
    QString problems;
    for (const int ratio : {1, 2}) {
        const QString file = QStringLiteral("%1/%2@%3x.png").arg(goldenDir, name).arg(ratio);
        const QImage actual = render(size, ratio, paint);
        if (update) {
            if (!QDir().mkpath(goldenDir) || !actual.save(file)) return ::testing::AssertionFailure() << "cannot write " << file.toStdString();
            continue;
        }
        QImage expected(file);
        QString problem;
        QImage diff;
        if (expected.isNull()) {
            problem = QStringLiteral("no golden %1").arg(file);
        } else if (expected.size() != actual.size()) {
            problem = QStringLiteral("%1 is %2x%3, the view drew %4x%5")
                          .arg(file).arg(expected.width()).arg(expected.height()).arg(actual.width()).arg(actual.height());
        } else {
            qint64 differing = 0;
            std::tie(diff, differing) = difference(actual, expected.convertToFormat(QImage::Format_ARGB32));
            if (differing > allowedFraction * actual.width() * actual.height())
                problem = QStringLiteral("%1: %2 of %3 pixels differ").arg(file).arg(differing).arg(actual.width() * actual.height());
        }
        if (problem.isEmpty()) continue;
        // Kept after the run (a unique folder, never a fixed name) to be looked at.
        if (!failures) {
            failures = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/quillvex-golden-XXXXXX"));
            failures->setAutoRemove(false);
        }
        const QString stem = QStringLiteral("%1/%2@%3x").arg(failures->path(), name).arg(ratio);
        actual.save(stem + QStringLiteral(".actual.png"));
        problem += QStringLiteral("; drawn: %1.actual.png").arg(stem);
        if (!diff.isNull() && diff.save(stem + QStringLiteral(".diff.png"))) problem += QStringLiteral(", diff: %1.diff.png").arg(stem);
        problems += problem + QLatin1Char('\n');
    }
    if (problems.isEmpty()) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << problems.toStdString()
                                         << "(QUILLVEX_UPDATE_GOLDENS=1 redraws them; look at them before committing)";
}

::testing::AssertionResult matchesGolden(const QString& goldenDir, const QString& name, QWidget& widget,
                                         const QColor& background) {
    QApplication::sendPostedEvents();  // layouts settle as they would before a paint
    return matchesGolden(goldenDir, name, widget.size(), [&](QPainter& painter) {
        painter.fillRect(QRect(QPoint(), widget.size()), background);
        widget.render(&painter, QPoint(), QRegion(), QWidget::DrawChildren);
    });
}

}  // namespace testsupport
