#pragma once
// Text helpers shared by every part of the server (module modCommonFunctions).
// Text is bytes: one character per byte, never decoded as UTF-8.
#include <QByteArray>
#include <QList>
#include <cstdint>

using Text = QByteArray;
using TextList = QList<QByteArray>;

inline constexpr const char* CRLF = "\r\n";

// Trims spaces, TABs, CR and LF at both ends.
Text Trim(const Text& s);
Text UCase(const Text& s);   // ASCII and Latin-1 letters
Text LCase(const Text& s);
bool SameText(const Text& a, const Text& b);              // equal ignoring case
bool ContainsText(const Text& hay, const Text& needle);   // case-insensitive

// Splits at the delimiter into at most `limit` pieces (limit < 1: no limit),
// padded with empty pieces up to `minimum` (and at least one). Index 0 is the
// design's element 1.
TextList Explode(const Text& delimiter, const Text& text, int limit = 0, int minimum = 1);
// The lines of a text file: split at LF, a CR before it dropped; the end of
// the last line makes no empty line of its own.
TextList SplitLines(const Text& bytes);

enum class PadMode { Left, Right, Center };
PadMode PadModeFromText(const Text& mode);   // "PAD_LEFT", "PAD_RIGHT", "PAD_CENTER"
Text StrPad(const Text& text, int width, const Text& pad = " ", PadMode mode = PadMode::Right);

// Replaces `search` by `replacement` (case-sensitive). maxCount <= 0: no limit.
// With restart the next search begins at the start again.
Text StrReplace(const Text& text, const Text& search, const Text& replacement, int maxCount = 0, bool restart = false);

Text ConvertCrLf(const Text& text);          // every line end becomes CR LF
bool LineEndsAreCrLf(QByteArrayView text);   // every CR before an LF, every LF after a CR
Text StripTrailingCrLf(const Text& text);
Text StripTrailingBackslash(const Text& path);
Text GetFileBasename(const Text& path);   // last component after "\" or "/"
void SortArray(TextList& list);           // ascending, ignoring case
Text CalcUptime(int64_t seconds, bool shortForm);

int16_t ValInteger(const Text& text);
int32_t ValLong(const Text& text);
double ValNumber(const Text& text);   // the leading number, 0 when none
bool IsNumeric(const Text& text);     // a whole number, possibly signed

int16_t ConvertBinToInt(const Text& digits);
Text ConvertIntToBin(int16_t n);

Text NumText(long long n);   // plain decimal
