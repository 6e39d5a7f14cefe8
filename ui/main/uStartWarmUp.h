// What the first window would otherwise wait for, begun on threads of their own while
// Qt sets itself up: the session bus connection that the accessibility bridge opens at
// the first control, the font configuration that the first text needs, and, once the
// application exists, the font database and the program's icon.
#pragma once

#include <thread>

class TStartWarmUp {
 public:
  // On Qt's main thread, before the application object is made.
  TStartWarmUp();
  // Joins the threads; before the application object goes.
  ~TStartWarmUp();
  TStartWarmUp(const TStartWarmUp&) = delete;
  TStartWarmUp& operator=(const TStartWarmUp&) = delete;

  // The application object exists: the font database and the icon can be had.
  void ApplicationReady();

 private:
  std::thread FBus;
  std::thread FFontConfig;
  std::thread FFonts;
};
