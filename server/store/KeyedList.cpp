#include "server/store/KeyedList.h"

#include "server/store/ErrorLog.h"
#include "server/store/Files.h"
#include "server/store/Lines.h"
#include "server/store/SettledFiles.h"
#include "server/store/Version.h"

#include <QFile>
#include <algorithm>
#include <cerrno>

namespace {

bool KeyMatches(const Text& line, const Text& upperKey) { return UCase(Trim(Explode("=", line, 2, 2)[0])) == upperKey; }
}   // namespace

Text GetData(const Text& key, const QString& file) { return GetDataList({key}, file).first(); }

TextList GetDataList(const TextList& keys, const QString& file) {
    TextList values(keys.size());
    TextList wanted;   // upper case; emptied as each is found
    for (const Text& key : keys) wanted.append(UCase(Trim(key)));
    qsizetype left = std::count_if(wanted.begin(), wanted.end(), [](const Text& k) { return !k.isEmpty(); });
    const QString f = file.trimmed();
    if (left == 0 || f.isEmpty()) return values;
    bool ok = true;
    const Text bytes = ReadSettledFile(f, &ok);
    if (!ok) {
        if (errno != ENOENT) LogError("GetData", kVersion, "modCommonFunctions", "Cannot read " + TextFromPath(f));
        return values;
    }
    // Read in place: the file is searched for every message. The first line
    // of a key counts.
    ForEachLine(std::string_view(bytes.constData(), size_t(bytes.size())), LineEnds::Lf, [&](std::string_view view) {
        const QByteArrayView line(view.data(), qsizetype(view.size()));
        const qsizetype equals = line.indexOf('=');
        const QByteArrayView name = equals < 0 ? line : line.first(equals);
        const Text trimmed = Trim(Text::fromRawData(name.data(), name.size()));
        for (qsizetype i = 0; i < wanted.size(); ++i) {
            if (wanted[i].isEmpty() || trimmed.size() != wanted[i].size() || UCase(trimmed) != wanted[i]) continue;
            if (equals >= 0) values[i] = line.sliced(equals + 1).toByteArray();
            wanted[i].clear();
            --left;
        }
        return left > 0;
    });
    return values;
}

void PutData(const Text& key, const Text& value, const QString& file) {
    const Text k = Trim(key);
    const QString f = file.trimmed();
    if (k.isEmpty() || f.isEmpty()) return;
    const Text newLine = k + "=" + value;
    Text out;
    if (FileExists(f)) {
        bool ok = true;
        const Text bytes = ReadFileBytes(f, &ok);
        if (!ok) {
            LogError("PutData", kVersion, "modCommonFunctions", "Cannot read " + TextFromPath(f));
            return;
        }
        const Text upperKey = UCase(k);
        bool matched = false;
        for (const Text& line : SplitLines(bytes)) {
            if (KeyMatches(Trim(line), upperKey)) {
                out += newLine + CRLF;
                matched = true;
            } else {
                out += line + CRLF;
            }
        }
        if (!matched) out += newLine + CRLF;
    } else {
        out = newLine + CRLF;
    }
    // A temporary file renamed into place: readers never see half a list.
    if (!WriteSecretFileAtomic(f, out))
        LogError("PutData", kVersion, "modCommonFunctions", "Cannot write " + TextFromPath(f));
}

void CreateFile(const QString& file, bool overwrite) {
    const QString f = file.trimmed();
    if (f.isEmpty() || (QFile::exists(f) && !overwrite)) return;
    if (!WriteSecretFileAtomic(f, Text()))
        LogError("CreateFile", kVersion, "modCommonFunctions", "Cannot create " + TextFromPath(f));
}

void DeleteData(const QString& file) {
    const QString f = file.trimmed();
    if (f.isEmpty() || !FileExists(f)) return;
    bool ok = true;
    const Text bytes = ReadFileBytes(f, &ok);
    if (!ok) {   // a file that cannot be read is never taken for an empty one
        LogError("DeleteData", kVersion, "modCommonFunctions", "Cannot read " + TextFromPath(f));
        return;
    }
    for (const Text& line : SplitLines(bytes))
        if (!Explode("=", line, 2, 2)[1].isEmpty()) return;
    if (!QFile::remove(f)) LogError("DeleteData", kVersion, "modCommonFunctions", "Cannot delete " + TextFromPath(f));
}

QList<TextList> ListRows(const Text& value, int minColumns) {
    QList<TextList> rows;
    if (value.isEmpty()) return rows;
    for (const Text& row : Explode(";", value)) rows.append(Explode(",", row, 0, minColumns));
    return rows;
}
