#include "server/store/Text.h"

#include "server/store/Lines.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {
bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

unsigned char Upper(unsigned char c) {
    if (c >= 'a' && c <= 'z') return c - 32;
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return c - 32;   // Latin-1 letters
    return c;
}
unsigned char Lower(unsigned char c) {
    if (c >= 'A' && c <= 'Z') return c + 32;
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 32;
    return c;
}
}   // namespace

Text Trim(const Text& s) {
    qsizetype b = 0, e = s.size();
    while (b < e && IsBlank(s[b])) ++b;
    while (e > b && IsBlank(s[e - 1])) --e;
    return s.mid(b, e - b);
}

Text UCase(const Text& s) {
    Text r(s);
    for (auto& c : r) c = char(Upper(static_cast<unsigned char>(c)));
    return r;
}

Text LCase(const Text& s) {
    Text r(s);
    for (auto& c : r) c = char(Lower(static_cast<unsigned char>(c)));
    return r;
}

bool SameText(const Text& a, const Text& b) {
    if (a.size() != b.size()) return false;
    for (qsizetype i = 0; i < a.size(); ++i)
        if (Upper(static_cast<unsigned char>(a[i])) != Upper(static_cast<unsigned char>(b[i]))) return false;
    return true;
}

bool ContainsText(const Text& hay, const Text& needle) { return UCase(hay).contains(UCase(needle)); }

TextList Explode(const Text& delimiter, const Text& text, int limit, int minimum) {
    TextList out;
    if (delimiter.isEmpty()) {
        out.append(text);
    } else {
        qsizetype from = 0;
        while (true) {
            if (limit > 0 && out.size() == limit - 1) {
                out.append(text.mid(from));
                break;
            }
            const qsizetype at = text.indexOf(delimiter, from);
            if (at < 0) {
                out.append(text.mid(from));
                break;
            }
            out.append(text.mid(from, at - from));
            from = at + delimiter.size();
        }
    }
    while (out.size() < std::max(1, minimum)) out.append(Text());
    return out;
}

PadMode PadModeFromText(const Text& mode) {
    const Text m = UCase(Trim(mode));
    if (m == "PAD_LEFT") return PadMode::Left;
    if (m == "PAD_CENTER") return PadMode::Center;
    return PadMode::Right;
}

Text StrPad(const Text& text, int width, const Text& pad, PadMode mode) {
    if (text.size() > width) return text.left(width);
    const char p = pad.isEmpty() ? ' ' : pad[0];
    const int missing = width - int(text.size());
    switch (mode) {
    case PadMode::Left:
        return Text(missing, p) + text;
    case PadMode::Center:
        return Text(missing / 2, p) + text + Text(missing - missing / 2, p);
    case PadMode::Right:
        break;
    }
    return text + Text(missing, p);
}

Text StrReplace(const Text& text, const Text& search, const Text& replacement, int maxCount, bool restart) {
    if (search.isEmpty() || search == replacement) return text;
    if (maxCount < 0) maxCount = 0;
    if (!restart) {
        // One pass that builds the result: linear in the text's length.
        Text out;
        out.reserve(text.size());
        qsizetype from = 0;
        int count = 0;
        while (true) {
            const qsizetype at = text.indexOf(search, from);
            if (at < 0) break;
            out.append(text.constData() + from, at - from);
            out.append(replacement);
            from = at + search.size();
            if (maxCount > 0 && ++count >= maxCount) break;
        }
        out.append(text.constData() + from, text.size() - from);
        return out;
    }
    // Restart: each replacement is followed by a search from the start again.
    // The text left of a replacement held no match before it, so the next
    // match can only end inside or after the replacement; feeding the
    // replacement back in front of the unread text finds it without scanning
    // from the start, so the work stays linear in the text and replacements.
    // A replacement that holds the search text would never end without a
    // limit: then only the first match is replaced.
    if (maxCount == 0 && replacement.contains(search)) maxCount = 1;
    Text out;
    out.reserve(text.size());
    Text pending;         // replacement text still to be read, reversed
    qsizetype next = 0;   // next unread byte of text
    int count = 0;
    while (!pending.isEmpty() || next < text.size()) {
        if (!pending.isEmpty()) {
            out.append(pending.back());
            pending.chop(1);
        } else {
            out.append(text[next++]);
        }
        if (!out.endsWith(search)) continue;
        out.chop(search.size());
        for (qsizetype i = replacement.size() - 1; i >= 0; --i) pending.append(replacement[i]);
        if (maxCount > 0 && ++count >= maxCount) break;
    }
    for (qsizetype i = pending.size() - 1; i >= 0; --i) out.append(pending[i]);
    out.append(text.constData() + next, text.size() - next);
    return out;
}

bool LineEndsAreCrLf(QByteArrayView text) {
    // The line ends are right when the LFs stand exactly one place after the
    // CRs. Sixteen bytes are compared at a time where the processor can:
    // messages are long, and this runs over every one.
    const char* p = text.data();
    const qsizetype n = text.size();
    qsizetype i = 0;
    unsigned carry = 0;   // 1 when the byte before the block is a CR
#ifdef __SSE2__
    const __m128i cr = _mm_set1_epi8('\r'), lf = _mm_set1_epi8('\n');
    for (; i + 16 <= n; i += 16) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        const unsigned crs = unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(block, cr)));
        const unsigned lfs = unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(block, lf)));
        if (lfs != (((crs << 1) | carry) & 0xFFFFu)) return false;
        carry = crs >> 15;
    }
#endif
    for (; i < n; ++i) {
        const bool isLf = p[i] == '\n';
        if (isLf != (carry == 1)) return false;
        carry = p[i] == '\r' ? 1 : 0;
    }
    return carry == 0;
}

Text ConvertCrLf(const Text& text) {
    // Mail nearly always arrives with CR LF already: share it, copy nothing.
    if (LineEndsAreCrLf(text)) return text;
    Text out;
    out.reserve(text.size() + text.size() / 32);
    const char* p = text.constData();
    const qsizetype n = text.size();
    qsizetype from = 0;
    for (qsizetype i = 0; i < n; ++i) {
        if (p[i] != '\r' && p[i] != '\n') continue;
        out.append(p + from, i - from);   // copy whole runs of text, not byte by byte
        out.append("\r\n", 2);
        if (p[i] == '\r' && i + 1 < n && p[i + 1] == '\n') ++i;
        from = i + 1;
    }
    out.append(p + from, n - from);
    return out;
}

Text StripTrailingCrLf(const Text& text) {
    if (std::all_of(text.begin(), text.end(), IsBlank)) return {};
    qsizetype e = text.size();
    while (e >= 2 && text[e - 2] == '\r' && text[e - 1] == '\n') e -= 2;
    return text.left(e);
}

Text StripTrailingBackslash(const Text& path) {
    qsizetype e = path.size();
    while (e > 0 && path[e - 1] == '\\') --e;
    return path.left(e);
}

Text GetFileBasename(const Text& path) {
    if (Trim(path).isEmpty()) return {};
    qsizetype at = std::max(path.lastIndexOf('\\'), path.lastIndexOf('/'));
    return Trim(path.mid(at + 1));
}

void SortArray(TextList& list) {
    std::stable_sort(list.begin(), list.end(), [](const Text& a, const Text& b) { return UCase(a) < UCase(b); });
}

Text CalcUptime(int64_t seconds, bool shortForm) {
    if (seconds < 0) seconds = 0;
    const int64_t days = seconds / 86400;
    const int64_t hours = seconds % 86400 / 3600;
    const int64_t minutes = seconds % 3600 / 60;
    const int64_t secs = seconds % 60;
    if (shortForm) return NumText(days) + "d " + NumText(hours) + "h " + NumText(minutes) + "m " + NumText(secs) + "s";
    return NumText(days) + " days, " + NumText(hours) + " hours, " + NumText(minutes) + " minutes, " + NumText(secs) +
           " seconds";
}

double ValNumber(const Text& text) {
    // The leading number: blanks ignored, optional sign, digits, point, exponent.
    Text s;
    for (char c : text)
        if (c != ' ' && c != '\t') s.append(c);
    qsizetype i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    const qsizetype digitsFrom = i;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) ++i;
    if (i < s.size() && s[i] == '.') {
        ++i;
        while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) ++i;
    }
    if (i == digitsFrom || (i == digitsFrom + 1 && s[digitsFrom] == '.')) return 0;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        qsizetype j = i + 1;
        if (j < s.size() && (s[j] == '+' || s[j] == '-')) ++j;
        if (j < s.size() && std::isdigit(static_cast<unsigned char>(s[j]))) {
            while (j < s.size() && std::isdigit(static_cast<unsigned char>(s[j]))) ++j;
            i = j;
        }
    }
    const double v = std::strtod(s.left(i).constData(), nullptr);
    return std::isfinite(v) ? v : (v > 0 ? 1e300 : -1e300);
}

namespace {
double ClampRound(double v, double limit) {
    v = std::clamp(v, -limit, limit);
    return std::nearbyint(v);   // the default rounding mode rounds ties to even
}
}   // namespace

int16_t ValInteger(const Text& text) { return int16_t(ClampRound(ValNumber(text), 32767)); }
int32_t ValLong(const Text& text) { return int32_t(ClampRound(ValNumber(text), 2147483647.0)); }

bool IsNumeric(const Text& text) {
    const Text t = Trim(text);
    if (t.isEmpty()) return false;
    qsizetype i = (t[0] == '+' || t[0] == '-') ? 1 : 0;
    if (i == t.size()) return false;
    for (; i < t.size(); ++i)
        if (!std::isdigit(static_cast<unsigned char>(t[i]))) return false;
    return true;
}

int16_t ConvertBinToInt(const Text& digits) {
    int32_t sum = 0;
    int k = 0;
    for (qsizetype i = digits.size() - 1; i >= 0 && k < 31; --i, ++k)
        if (digits[i] == '1') sum += int32_t(1) << k;
    return int16_t(sum);
}

Text ConvertIntToBin(int16_t n) {
    if (n == 0) return "0";
    Text out;
    int v = n;
    while (v != 0) {
        out.prepend(char('0' + std::abs(v % 2)));
        v /= 2;
    }
    return out;
}

Text NumText(long long n) { return Text::number(n); }

TextList SplitLines(const Text& bytes) {
    TextList lines;
    ForEachLine(std::string_view(bytes.constData(), size_t(bytes.size())), LineEnds::Lf, [&](std::string_view line) {
        lines.append(Text(line.data(), qsizetype(line.size())));
        return true;
    });
    return lines;
}
