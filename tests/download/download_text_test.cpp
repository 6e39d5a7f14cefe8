// The dialog's texts: file name from a URL, sizes, elapsed time, speed and the
// companion percentage, at the boundaries where the units and roundings turn.
#include "download/uDownText.h"

#include <gtest/gtest.h>

namespace {

constexpr double kSecond = 1.0 / 86400.0;

TEST(DownloadText, FileNameFromUrl) {
  EXPECT_EQ(FileNameFromUrl("http://host:8080/packages/nv_9137.exe"), "nv_9137.exe");
  EXPECT_EQ(FileNameFromUrl("http://host/get.php?id=7/x"), "x");
  EXPECT_EQ(FileNameFromUrl("http://host/get.php?id=7"), "get.php?id=7");
  EXPECT_EQ(FileNameFromUrl("http://host/packages/"), "");
  EXPECT_EQ(FileNameFromUrl("http://host:81"), "81");  // the colon cuts too
  EXPECT_EQ(FileNameFromUrl("C:\\drivers\\a.zip"), "a.zip");
  EXPECT_EQ(FileNameFromUrl("plain"), "plain");
  EXPECT_EQ(FileNameFromUrl(""), "");
  // The save dialog is never offered a hidden name.
  EXPECT_EQ(SuggestedFileName("http://host/.bashrc"), "bashrc");
  EXPECT_EQ(SuggestedFileName("http://host/..."), "");
  EXPECT_EQ(SuggestedFileName("http://host/a/..profile"), "profile");
  EXPECT_EQ(SuggestedFileName("http://host/nv.1.exe"), "nv.1.exe");
}

TEST(DownloadText, SizeUnitsTurnAboveTheirBase) {
  EXPECT_EQ(SizeText(0, '.'), "0 B");
  EXPECT_EQ(SizeText(1024, '.'), "1024 B");
  EXPECT_EQ(SizeText(1025, '.'), "1 KB");
  EXPECT_EQ(SizeText(1536, '.'), "1.5 KB");
  EXPECT_EQ(SizeText(1048576, '.'), "1024 KB");
  EXPECT_EQ(SizeText(1048577, '.'), "1 MB");
  EXPECT_EQ(SizeText(3 * 1048576, '.'), "3 MB");
  EXPECT_EQ(SizeText(1234567, '.'), "1.18 MB");
  EXPECT_EQ(SizeText(2147483647, '.'), "2048 MB");
  EXPECT_EQ(SizeText(1536, ','), "1,5 KB");
}

TEST(DownloadText, RoundingHalvesToEven) {
  EXPECT_DOUBLE_EQ(RoundToStep(0.125, 0.01), 0.12);
  EXPECT_DOUBLE_EQ(RoundToStep(0.375, 0.01), 0.38);
  EXPECT_DOUBLE_EQ(RoundToStep(2.25, 0.1), 2.2);
  EXPECT_DOUBLE_EQ(RoundToStep(2.35, 0.1), 2.4);
  EXPECT_EQ(FormatGeneral(0.1 + 0.2, '.'), "0.3");
  EXPECT_EQ(FormatGeneral(50, '.'), "50");
  EXPECT_EQ(FormatGeneral(-0.0, '.'), "0");
}

TEST(DownloadText, ProgressLine) {
  const double start = 45000.5;
  EXPECT_EQ(ProgressLineText(1024, 1048576, start, start, '.'), "1024 B from 1024 KB, elapsed 00:00:00");
  EXPECT_EQ(ProgressLineText(1536, 3 * 1048576, start, start + 65 * kSecond, '.'),
            "1.5 KB from 3 MB, elapsed 00:01:05");
  EXPECT_EQ(SizeText(1048576, '.'), "1024 KB");  // the size value beside it
}

TEST(DownloadText, ElapsedCountsHoursModulo24) {
  const double start = 45000.25;
  EXPECT_EQ(ElapsedText(start, start + 3 * 3600 * kSecond + 7 * kSecond), "03:00:07");
  EXPECT_EQ(ElapsedText(start, start + 25 * 3600 * kSecond + 61 * kSecond), "01:01:01");
  EXPECT_EQ(ElapsedText(start, start + 0.999 * kSecond), "00:00:00");
  EXPECT_EQ(ElapsedText(start, start - 5 * kSecond), "00:00:00");  // clock set back
}

TEST(DownloadText, Speed) {
  const double start = 45000.75;
  EXPECT_EQ(SpeedText(900 * 1024, start, start + 0.9 * kSecond, '.'), "Speed 0 kb/s");
  EXPECT_EQ(SpeedText(500 * 1024, start, start + 10 * kSecond, '.'), "Speed 50 kb/s");
  EXPECT_EQ(SpeedText(500 * 1024, start, start + 10.9 * kSecond, '.'), "Speed 50 kb/s");  // whole seconds
  EXPECT_EQ(SpeedText(1000 * 1024, start, start + 3 * kSecond, '.'), "Speed 333.3 kb/s");
  EXPECT_EQ(SpeedText(1000 * 1024, start, start + 3 * kSecond, ','), "Speed 333,3 kb/s");
  EXPECT_EQ(SpeedText(100, start, start + 1 * kSecond, '.'), "Speed 0.1 kb/s");
  EXPECT_EQ(WholeSecondsBetween(start + 10 * kSecond, start), 10);
}

TEST(DownloadText, ToolPercentRoundsHalvesToEven) {
  EXPECT_EQ(ToolPercentText(3, 1), "(33%)...");
  EXPECT_EQ(ToolPercentText(8, 1), "(12%)...");
  EXPECT_EQ(ToolPercentText(8, 3), "(38%)...");
  EXPECT_EQ(ToolPercentText(8, 8), "(100%)...");
  EXPECT_EQ(ToolPercentText(0, 5), "(0%)...");
  EXPECT_EQ(ToolPercentText(-1, 5), "(0%)...");
  EXPECT_EQ(ToolPercentText(10, 0), "(0%)...");
}

TEST(DownloadText, CompletionNotice) {
  EXPECT_EQ(DownloadCompletedText("/home/u/nv.exe"),
            "Downloading completed. File has been saved to \r\n/home/u/nv.exe\r\n\r\n"
            "If you have any questions please read our FAQ:");
}

TEST(DownloadText, SeparatorFollowsTheSetting) {
  SetUserDecimalSeparator(',');
  EXPECT_EQ(UserDecimalSeparator(), ',');
  EXPECT_EQ(SizeText(1536), "1,5 KB");
  SetUserDecimalSeparator('.');
  EXPECT_EQ(SizeText(1536), "1.5 KB");
}

}  // namespace
