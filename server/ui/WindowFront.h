#pragma once
// The windowed face of the server: builds frmMain on top of the engine,
// connects the engine's reports to it, runs the start-up (Engine::Start is
// called here, after the signals are connected, so no early line is lost),
// places and shows the window and runs the event loop until the shut-down.
#include <QStringList>

class QApplication;
class Engine;

// Returns the program's exit status: 0 after File > Exit, 1 when a fatal
// configuration problem ended the start-up.
int RunWindowFront(QApplication& app, Engine& engine, const QStringList& arguments);
