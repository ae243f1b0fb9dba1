#pragma once
// The pictures the console draws itself: its 32 by 32 icon and the clear buttons' cross.
#include <QIcon>
#include <QPixmap>

QIcon drawConsoleIcon();
QPixmap drawClearCross();
