#pragma once
// osprinectl list: the lists the list editors, the IP dialog and the relay
// dialog edit, with the same checks.
#include <QStringList>
#include "osprinectl/Installation.h"

int RunList(const Installation& installation, const QStringList& arguments);
extern const char* const kListHelp;
