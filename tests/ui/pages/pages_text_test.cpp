// The pages' pure rules: percentages, diagram picture, last-scan date text,
// truncation, date slashes, and the scan completion bookkeeping.
#include "pages_fixture.h"

#include "ui/pages/uPageText.h"
#include "ui/widgets/uStringGrid.h"
#include "scan/uScanFinish.h"

#include <gtest/gtest.h>

TEST(PageText, RoundedPercentHalvesToEvenAndZeroDivisor) {
  struct Case { int64_t v, t; int want; };
  const Case cases[] = {{1, 3, 33}, {2, 3, 67}, {3, 3, 100}, {1, 8, 12}, {3, 8, 38}, {5, 8, 62},
                        {0, 0, 0},  {5, 0, 0},  {1, 2, 50},  {1, 200, 0}, {3, 200, 2}, {9, 4, 225}};
  for (const Case& c : cases) EXPECT_EQ(RoundedPercent(c.v, c.t), c.want) << c.v << "/" << c.t;
}

TEST(PageText, DiagramPercentIsEvenOutOfDateShare) {
  struct Case { int t, ud, want; };
  const Case cases[] = {{10, 7, 30}, {12, 12, 0}, {7, 6, 14}, {3, 2, 34}, {41, 38, 8},
                        {1, 0, 100}, {4, 5, 0},   {2, -3, 0}};
  for (const Case& c : cases) EXPECT_EQ(DiagramPercent(c.t, c.ud), c.want) << c.t << "/" << c.ud;
}

TEST(PageText, LastScanDateTextNoonMidnightAndOthers) {
  struct Case { TLocalDateTime dt; const char* want; };
  const Case cases[] = {
      {{2007, 7, 23, 16, 19, 5}, "Monday, July 23, 2007, 04:19 pm"},
      {{2007, 7, 23, 12, 0, 0}, "Monday, July 23, 2007, 12:00 pm"},
      {{2007, 7, 24, 0, 7, 0}, "Tuesday, July 24, 2007, 12:07 am"},
      {{2000, 2, 29, 9, 5, 0}, "Tuesday, February 29, 2000, 09:05 am"},
      {{2026, 1, 1, 23, 59, 59}, "Thursday, January 01, 2026, 11:59 pm"},
  };
  for (const Case& c : cases) EXPECT_EQ(LastScanDateText(c.dt), c.want);
}

TEST(PageText, LastScanLabelReadsTheStoredText) {
  EXPECT_EQ(LastScanLabelText(FormatDateTime({2007, 7, 23, 16, 19, 0})), "Monday, July 23, 2007, 04:19 pm");
  // Exactly midnight is stored without its time.
  EXPECT_EQ(LastScanLabelText(FormatDateTime({2007, 7, 24, 0, 0, 0})), "Tuesday, July 24, 2007, 12:00 am");
  EXPECT_EQ(LastScanLabelText(FormatDateTime({2007, 7, 24, 12, 0, 0})), "Tuesday, July 24, 2007, 12:00 pm");
  EXPECT_EQ(LastScanLabelText("23.07.2007 16:19"), "undefined");
  EXPECT_EQ(LastScanLabelText("yesterday"), "undefined");
}

TEST(PageText, DashesBecomeSlashesOnly) {
  EXPECT_EQ(DashesToSlashes("11-21-2006"), "11/21/2006");
  EXPECT_EQ(DashesToSlashes("7-1-2006"), "7/1/2006");
  EXPECT_EQ(DashesToSlashes("2006.11.21"), "2006.11.21");
  EXPECT_EQ(DashesToSlashes(""), "");
}

TEST(PageText, TruncationKeepsWhatFitsWithDots) {
  // Every character 10 pixels wide.
  const auto w = [](const QString& s) { return static_cast<int>(s.size()) * 10; };
  EXPECT_EQ(TruncateToColumn(QStringLiteral("abcdef"), 30, 90, w), QStringLiteral("abcdef"));  // exactly fits
  EXPECT_EQ(TruncateToColumn(QStringLiteral("abcdefg"), 30, 90, w), QStringLiteral("abc..."));
  EXPECT_EQ(TruncateToColumn(QStringLiteral("abcdefg"), 46, 60, w), QStringLiteral("..."));
  EXPECT_EQ(TruncateToColumn(QString(), 46, 10, w), QStringLiteral("..."));
}

// On the fixture's empty machine: the save writes its settings key, never the host's.
TEST_F(PagesTest, ScanFinishOutcomeBookkeeping) {
  struct Case { TScanEnd end; int err; int step; bool notice; bool stamped; bool verdictKept; };
  const Case cases[] = {{TScanEnd::Checked, 0, 3, false, true, true},
                        {TScanEnd::Checked, 1, 3, false, true, true},
                        {TScanEnd::Checked, 2, 3, true, true, true},
                        {TScanEnd::Failed, 0, 1, false, false, false},
                        {TScanEnd::Failed, 5, 3, true, false, false},
                        {TScanEnd::Cancelled, 0, 1, false, false, false},
                        {TScanEnd::NoAnswer, 0, 1, false, false, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(ScanEndName(c.end));
    TKorvaneState state;
    state.Settings.LastScan = "old";
    state.Settings.IsSysUpdated = true;
    const TScanOutcome o = ApplyScanOutcome(state, c.end, c.err, "7/23/2007 4:19:00 PM");
    EXPECT_EQ(o.NextStep, c.step);
    EXPECT_EQ(o.ShowServerError, c.notice);
    EXPECT_EQ(state.Settings.LastScan, c.stamped ? "7/23/2007 4:19:00 PM" : "");
    EXPECT_EQ(state.Settings.IsSysUpdated, c.verdictKept);
  }
}
