#pragma once

// Screenshot comparisons: a view drawn at pixel ratios 1 and 2 against the PNGs kept in the test
// folder's golden/ directory as <name>@1x.png and <name>@2x.png.
// QUILLVEX_UPDATE_GOLDENS=1 writes the pictures instead; look at every changed one before committing it.

#include <QColor>
#include <QSize>
#include <QString>

#include <gtest/gtest.h>

#include <functional>

class QPainter;
class QWidget;

namespace testsupport {

using PaintFunction = std::function<void(QPainter&)>;

// What `paint` draws on a transparent canvas of `size` logical pixels.
::testing::AssertionResult matchesGolden(const QString& goldenDir, const QString& name, QSize size,
                                         const PaintFunction& paint);
// `widget` and its children over `background` (the views are translucent where the desktop shows).
::testing::AssertionResult matchesGolden(const QString& goldenDir, const QString& name, QWidget& widget,
                                         const QColor& background = Qt::transparent);

}  // namespace testsupport

// Each test folder's golden/ directory comes from its build (QUILLVEX_GOLDEN_DIR).
#define EXPECT_GOLDEN(name, ...) \
    EXPECT_TRUE(::testsupport::matchesGolden(QStringLiteral(QUILLVEX_GOLDEN_DIR), name, __VA_ARGS__))
