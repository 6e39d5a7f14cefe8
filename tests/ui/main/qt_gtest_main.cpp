// GoogleTest entry for the widget tests: one QApplication for the whole run
// (the offscreen platform unless the test environment says otherwise).
#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
