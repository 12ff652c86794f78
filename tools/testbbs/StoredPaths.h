#pragma once
// How the test installation writes directory names into the BBS's records.
// The records have narrow fixed-width fields (40 characters in SYSPATHS.CFG,
// 32 for a file area), so a directory is written absolute when it fits and
// otherwise relative to the main directory, which is the working directory
// of every program of the installation.
#include <QString>
#include "server/store/Text.h"

// `dir` as stored in a field of `width` characters; with `noSpaces` a path
// holding a space (which would split a REMOTE line) is also written relative.
Text StoredDir(const QString& mainDir, const QString& dir, int width, bool noSpaces = false);

// The main directory itself: absolute when it fits, else ".".
Text StoredMainDir(const QString& mainDir, int width);
