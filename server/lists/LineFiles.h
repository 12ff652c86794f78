#pragma once
// Text files of CR LF lines that the BBS's programs read by name (TWIT.LST,
// NET.9, LISTSERV.LST): read line by line, written whole under a temporary
// name and renamed into place, so no reader ever sees half a file and no
// link at the name or beside it is followed.
#include <QString>
#include "server/store/Text.h"

// The lines without their CR LF; a missing file has none.
TextList ReadLines(const QString& path);
// Writes `lines`, each ended by CR LF, to a new temporary file beside
// `path` and renames it over `path`. False (and `path` untouched) when any
// step fails or `path` is a symbolic link.
bool WriteLines(const QString& path, const TextList& lines);
