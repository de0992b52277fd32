#pragma once

#include <QIcon>
#include <QImage>

// The program's icon: a warehouse database on a blue tile with a yellow arrow loading into it.
// data/icons/pendrill.svg draws the same shapes for the desktop.

// The icon painted at `size` x `size` pixels (transparent around the tile).
QImage PaintAppIcon(int size);
// The icon at the usual sizes, for the windows of the program.
QIcon AppIcon();
