#include "server/ui/WindowPlacement.h"

#include "server/store/Files.h"

#include <cmath>

WindowRecord CenteredWindow(QSize screen, QSize window) {
    WindowRecord w;
    w.WindowTop = (screen.height() - window.height()) / 2;
    w.WindowLeft = (screen.width() - window.width()) / 2;
    return w;
}

bool LoadWindowRecord(WindowRecord& w, const SettingsRecord& s, const QString& mainDir, QSize screen, QSize window) {
    w = CenteredWindow(screen, window);
    const QString file = WindowPath(mainDir);
    if (!On(s.SaveWindowPos)) return RemoveFile(file);
    if (!FileExists(file) && !WriteFileAtomic(file, EncodeWindow(w))) return false;
    bool ok = false;
    const Text bytes = ReadFileBytes(file, &ok);
    if (!ok) return false;
    w = DecodeWindow(bytes);
    const bool offScreen = w.WindowTop > screen.height() || w.WindowLeft > screen.width() ||
                           w.WindowTop < -window.height() || w.WindowLeft < -window.width();
    if (offScreen) {
        const WindowRecord centred = CenteredWindow(screen, window);
        w.WindowTop = centred.WindowTop;
        w.WindowLeft = centred.WindowLeft;
    }
    return true;
}

bool SaveWindowRecord(WindowRecord& w, const SettingsRecord& s, const QString& mainDir, QSize screen, QSize window,
                      QPointF lastPos) {
    const QString file = WindowPath(mainDir);
    if (!On(s.SaveWindowPos)) return RemoveFile(file);
    const double top = lastPos.y(), left = lastPos.x();
    const bool moved = top != w.WindowTop || left != w.WindowLeft;
    const bool onScreen =
        -window.height() < top && top < screen.height() && -window.width() < left && left < screen.width();
    if (moved && onScreen) {
        w.WindowTop = int32_t(std::lround(top));
        w.WindowLeft = int32_t(std::lround(left));
    }
    return WriteFileAtomic(file, EncodeWindow(w));
}
