#pragma once
// osprinectl config: prints and sets the settings of OSPRINE.CFG, and the
// single-value settings of the keyed list (TLS, per-address limit).
#include <QStringList>
#include "osprinectl/Installation.h"

int RunConfig(const Installation& installation, const QStringList& arguments, bool showSecrets);
extern const char* const kConfigHelp;
