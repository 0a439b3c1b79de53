#pragma once

#include "monitor/TrayPicture.h"

#include <QIcon>

class QPainter;

// Every picture the program shows, painted by code so that it stays crisp at
// any size and device pixel ratio.
namespace Images {
QIcon trayIcon(TrayPicture picture); // the sixteen tray pictures
QIcon windowIcon();                  // a green network adapter card
QIcon monitorTabIcon();              // red up and down arrows (as picRedRed)
QIcon optionsTabIcon();              // two gear wheels, grey and yellow
QIcon adapterTabIcon();              // a green network adapter card
QIcon miniUpArrow();                 // hollow upward arrow, black and white outline
QIcon miniDownArrow();               // hollow downward arrow

// The window icon's drawing itself, onto any paint device: the installed SVG
// icon is drawn through this, so it stays vector shapes, not a bitmap.
void paintWindowIcon(QPainter &painter, int width, int height);
} // namespace Images
