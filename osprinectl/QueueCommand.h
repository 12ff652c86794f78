#pragma once
// osprinectl queue: the outbound queue as mailq shows a mail queue, one
// message removed, or the running server asked to deliver now.
#include <QStringList>
#include "osprinectl/Installation.h"

int RunQueue(const Installation& installation, const QStringList& arguments);
extern const char* const kQueueHelp;
