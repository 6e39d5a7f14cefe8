// The least a Qt 6 Widgets program does to put a window of the main window's size on
// screen: the yardstick of bench_first_window.
#include <QApplication>
#include <QWidget>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QWidget w;
  w.resize(750, 550);
  w.show();
  return app.exec();
}
