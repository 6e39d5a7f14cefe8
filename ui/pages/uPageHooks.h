// What the pages need from the notification area: the scan's error notice is
// a tray balloon. The tray sets the hook at start-up; until then it does nothing.
#pragma once

#include <functional>
#include <string>

// Balloon icon kinds, numbered as the notification area numbers them.
constexpr int BalloonIconInfo = 1;
constexpr int BalloonIconWarning = 2;
constexpr int BalloonIconError = 3;

extern std::function<void(const std::string& title, const std::string& text, int iconKind, int seconds)>
    ShowBalloonHook;
