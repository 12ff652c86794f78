#pragma once
// The keyed list file "OSPRDATA.DAT": lines key=value, one line per list.
#include <QString>
#include "server/store/Text.h"

Text GetData(const Text& key, const QString& file);
// The values of several keys from one reading of the file ("" for a key
// that is missing), in the order of `keys`.
TextList GetDataList(const TextList& keys, const QString& file);
void PutData(const Text& key, const Text& value, const QString& file);
void CreateFile(const QString& file, bool overwrite);
void DeleteData(const QString& file);

// A list value split into rows (at ";") and columns (at ","), each row padded
// to at least `minColumns` columns. Empty value: no rows.
QList<TextList> ListRows(const Text& value, int minColumns);
