// The FW Data dialog's SOCV tab: the 101 edits and the curve that follows them.
#include <gtest/gtest.h>

#include <QChartView>
#include <QLineEdit>
#include <QLineSeries>

#include "app/qt/windows.h"

namespace {

TEST(FwDataDialog, SocvCurveFollowsTheEdits) {
  bms::qt::FwDataDialog dialog;
  auto* view = dialog.findChild<QChartView*>();
  ASSERT_NE(view, nullptr);
  ASSERT_EQ(view->chart()->series().size(), 1);
  auto* series = qobject_cast<QLineSeries*>(view->chart()->series().at(0));
  ASSERT_NE(series, nullptr);
  ASSERT_EQ(series->count(), 101);
  for (int n = 1; n <= 101; ++n) {
    auto* e = dialog.findChild<QLineEdit*>(QStringLiteral("EditSOCV%1").arg(n));
    ASSERT_NE(e, nullptr) << n;
    e->setText(QString::number(3000 + 12 * n));
  }
  dialog.findChild<QLineEdit*>(QStringLiteral("EditSOCV101"))->setText(QStringLiteral("4200"));
  EXPECT_EQ(series->at(0), QPointF(0, 3012));
  EXPECT_EQ(series->at(100), QPointF(100, 4200));
  // A point that is not a number is drawn at its neighbour's voltage.
  dialog.findChild<QLineEdit*>(QStringLiteral("EditSOCV50"))->setText(QString());
  EXPECT_EQ(series->at(49), QPointF(49, 3000 + 12 * 49));
}

}  // namespace
