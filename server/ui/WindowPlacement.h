#pragma once
// The window record "OSPRINE.DAT": where the main window stands and which
// of its two widths it has. All sizes are twips, 15 to the pixel.
#include "server/store/Settings.h"

#include <QPointF>
#include <QSize>

inline constexpr int kTwipsPerPixel = 15;
inline constexpr int kWideTwips = 10185;    // statistics shown
inline constexpr int kNarrowTwips = 7065;   // statistics hidden

inline int Pixels(int twips) { return twips / kTwipsPerPixel; }
inline int Twips(int pixels) { return pixels * kTwipsPerPixel; }

// The centred position for a window of `window` on a screen of `screen`.
WindowRecord CenteredWindow(QSize screen, QSize window);

// The record for start-up: the centred defaults, or with SaveWindowPos the
// stored record (created when missing), re-centred when it lies off the
// screen. Without SaveWindowPos any window file is deleted. False when the
// file could not be read or written.
bool LoadWindowRecord(WindowRecord& w, const SettingsRecord& s, const QString& mainDir, QSize screen, QSize window);

// Takes over `lastPos` (the last on-screen top-left, x = left) when it moved
// and the window is at least partly on the screen, then writes the record;
// without SaveWindowPos the file is deleted instead.
bool SaveWindowRecord(WindowRecord& w, const SettingsRecord& s, const QString& mainDir, QSize screen, QSize window,
                      QPointF lastPos);
