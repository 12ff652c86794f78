#pragma once
// osprinectl list: the lists the list editors, the IP dialog and the relay
// dialog edit, with the same checks.
#include "osprinectl/Installation.h"
#include <QStringList>

int RunList(const Installation& installation, const QStringList& arguments);
extern const char* const kListHelp;
