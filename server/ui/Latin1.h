#pragma once
// Stored text is one byte per character; the widgets show it as Latin-1.
#include <QString>
#include "server/store/Text.h"

inline QString Q(const Text& t) { return QString::fromLatin1(t); }
inline Text T(const QString& s) { return s.toLatin1(); }
