#pragma once
// The program's own pictures, drawn at run time: the three tray icons, the
// status lamps and the logo.
#include <QColor>
#include <QIcon>
#include <QPixmap>

enum class TrayIconId { Window = 0, Online = 101, Stopped = 102, Offline = 103 };

QIcon TrayIcon(TrayIconId id);
QPixmap Lamp(QColor color, int size = 14);
QIcon AppIcon();
