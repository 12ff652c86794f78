#pragma once
// Run by root on an installation that belongs to another user, osprinectl
// becomes that user (its group list, group and user id) before it reads or
// writes anything: every file it leaves belongs to the installation's
// owner, as the server would have left it, and no link the owner planted
// can make root write where the owner may not.
#include <QString>
#include <optional>
#include "server/store/Text.h"

// Nothing to do unless this process runs as root and `dir` belongs to
// someone else; the reason when the change fails, nothing otherwise.
std::optional<Text> BecomeOwnerOf(const QString& dir);
