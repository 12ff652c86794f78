#pragma once
// Where the tests' own scripts are: below the source tree's tests folder,
// named at configure time (a compiler cache may shorten __FILE__).
#include <QString>

// `relative`: a path below tests/, e.g. "outbound/upstream_smtp.py".
QString TestFile(const QString& relative);
