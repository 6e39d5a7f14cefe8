// Keyboard operation of the skinned windows, which are built of pictures rather
// than standard controls: the Tab order in reading order (the window's chrome
// last), and whether the keyboard is in use, which decides whether focus marks
// are drawn (they appear with the first key press and go with the next mouse
// press, so a mouse user sees every picture exactly as before).
#pragma once

#include <QPainter>
#include <QRect>

#include <vector>

class QWidget;

// Starts watching the application's input once (called by every control that
// draws a focus mark; idempotent).
void InstallKeyboardWatch();
// True from a key press until the next mouse press.
bool KeyboardInUse();
// For tests: as if a key (true) or the mouse (false) had been used last.
void SetKeyboardInUse(bool inUse);
// True when `w` has the focus and the keyboard is in use: draw its focus mark.
bool ShowsFocusMark(const QWidget* w);
// The skin's focus mark where a control has no hover picture: a thin dotted frame.
void DrawFocusFrame(QPainter& painter, const QRect& rect);

// Marks a container whose controls come before the window's chrome in the Tab
// order (the wizard pages), and a control that belongs to the chrome (a dialog's
// close button in its corner).
void MarkFocusGroupFirst(QWidget* container);
void MarkChrome(QWidget* control);
// A window where Enter always means Cancel (the message dialog): its focused
// button leaves Enter to the window (Space still presses the button).
void MarkEnterCancels(QWidget* window);
bool EnterCancels(const QWidget* window);

// The controls Tab reaches in `window`, in order: visible, enabled controls that
// take focus by Tab, in reading order (top to bottom by lines, left to right within
// a line); those of the first group before the chrome.
std::vector<QWidget*> TabChain(QWidget* window);
// The first control of the chain inside `container`, or nullptr.
QWidget* FirstTabControl(QWidget* container);
// Moves the focus to the next (or previous) control of the chain of the focus
// widget's window; false when the window has none.
bool MoveFocusInReadingOrder(QWidget* window, bool next);
