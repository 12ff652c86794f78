#pragma once
// Date and time texts. Day and month names are English whatever the locale.
#include <QDateTime>
#include "server/store/Text.h"

// The current local time, to the second. Built once per second: reading the
// zone for every event line costs more than the line itself.
QDateTime Now();

Text GetTimeZoneOffset(const QDateTime& when = Now());   // "+0200"
Text HeaderDate(const QDateTime& when = Now());          // "Tue, 11 Jul 2006 19:35:37 +0200"
Text HeaderDateNoZone(const QDateTime& when);            // without the offset
Text LogStamp(const QDateTime& when);                    // "Tue 2006-07-11 19:35:37"
Text LogStamp();                                         // of Now()
Text TimeText(const QDateTime& when);                    // "19:35:37"
Text TimeText();                                         // of Now()
Text UsDate(const QDate& date);                          // "07/11/2006"
Text YyMmDd(const QDate& date);                          // "060711"

// The general date-time text kept in queue files: "2006-07-11 19:35:37".
Text GeneralDateText(const QDateTime& when);
// Reads the general form and the US form "7/11/2006 7:35:37 PM"; invalid when unreadable.
QDateTime ParseGeneralDate(const Text& text);
