#pragma once
// Writes one file of a test installation: under a temporary name, renamed
// into place. Not flushed to the disk: a test installation is rebuilt, not
// recovered, and creating one must stay quick.
#include <QString>
#include "server/store/Text.h"

bool WriteInstallFile(const QString& path, const Text& bytes);
