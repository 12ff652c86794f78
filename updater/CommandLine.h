#pragma once
// Options of the command line: "/NAME" alone or "/NAME=value", separated by
// spaces, names compared without regard to case.
#include <QStringList>
#include "updater/ZrvConstants.h"

// The trimmed value of the option, "1" when it has no value, "" when absent.
QString GetCommandLine(const QStringList& arguments, const QString& name);

// A number read leniently: leading spaces, an optional sign and the leading
// digits; anything else reads as 0.
qint64 LeadingNumber(const QByteArray& text);
