#pragma once
// osprinectl config: prints and sets the settings of OSPRINE.CFG, and the
// single-value settings of the keyed list (TLS, per-address limit).
#include "osprinectl/Installation.h"
#include <QStringList>

int RunConfig(const Installation& installation, const QStringList& arguments, bool showSecrets);
extern const char* const kConfigHelp;
