// What assistive technologies (a screen reader through AT-SPI) see of the skin's
// own controls, which the desktop would otherwise take for unnamed pictures: image
// buttons as push buttons, image check boxes as check boxes with their state, the
// gauges as progress bars with their values, link labels as links, and the string
// grids as lists whose rows read as the grid's owner words them.
#pragma once

#include <QAccessible>
#include <QString>

class QWidget;

// Installs the accessibility factory of the skin's controls once (idempotent).
void InstallSkinAccessibility();

// Tells assistive technologies that `w` changed as `kind` says (NameChanged,
// DescriptionChanged, Alert, ...); nothing when none listens.
void NotifyAccessible(QWidget* w, QAccessible::Event kind);
