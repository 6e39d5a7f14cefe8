// GoogleTest entry of every Qt test program (korvane_test QT links it unless
// the program has a main of its own): one QApplication for the whole run (the
// offscreen platform unless the test environment says otherwise).
#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
