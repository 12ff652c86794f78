#include "server/store/HeaderView.h"

#include <algorithm>

namespace {

bool IsWsp(char c) { return c == ' ' || c == '\t'; }

QByteArrayView WithoutLineEnd(QByteArrayView line) {
    if (line.endsWith('\n')) line.chop(1);
    if (line.endsWith('\r')) line.chop(1);
    return line;
}

// Calls f(line) for each line of a field's raw text, line ends removed.
template <typename F>
void ForEachRawLine(const Text& raw, F f) {
    const QByteArrayView text(raw);
    qsizetype at = 0;
    while (at < text.size()) {
        qsizetype end = text.indexOf('\n', at);
        end = end < 0 ? text.size() : end + 1;
        if (!f(WithoutLineEnd(text.sliced(at, end - at)))) return;
        at = end;
    }
}

unsigned char Upper(char c) {
    const auto u = static_cast<unsigned char>(c);
    if ((u >= 'a' && u <= 'z') || (u >= 0xE0 && u <= 0xFE && u != 0xF7)) return u - 32;
    return u;
}

HeaderField FieldOf(Text raw) {
    HeaderField f;
    f.raw = std::move(raw);
    const QByteArrayView first = f.FirstLine();
    f.colon = first.indexOf(':');
    Text name = (f.colon < 0 ? first : first.first(f.colon)).toByteArray();
    while (!name.isEmpty() && IsWsp(name.back())) name.chop(1);
    f.name = std::move(name);
    return f;
}

// A continuation line that is blank ends the reading of the fields after it.
bool HasBlankContinuation(const HeaderField& f) {
    bool first = true, blank = false;
    ForEachRawLine(f.raw, [&](QByteArrayView line) {
        blank = !first && IsBlankLine(line);
        first = false;
        return !blank;
    });
    return blank;
}

Text SpacedTabs(QByteArrayView text) { return text.toByteArray().replace('\t', ' '); }

}   // namespace

Text FieldNameOf(const Text& name) {
    Text n = Trim(name);
    const qsizetype colon = n.indexOf(':');
    return colon >= 0 ? n.left(colon) : n;
}

bool IsContinuationLine(QByteArrayView line) { return !line.isEmpty() && IsWsp(line[0]); }

bool IsBlankLine(QByteArrayView line) { return std::all_of(line.begin(), line.end(), IsWsp); }

bool IsTraceLine(QByteArrayView line) {
    const Text head = UCase(line.first(std::min<qsizetype>(line.size(), 12)).toByteArray());
    return head.startsWith("RETURN-PATH:") || head.startsWith("RECEIVED:");
}

bool LineNames(QByteArrayView line, const Text& upperName, bool tabAsSpace) {
    const qsizetype colon = line.indexOf(':');
    if (colon != upperName.size()) return false;
    for (qsizetype i = 0; i < colon; ++i) {
        const char c = tabAsSpace && line[i] == '\t' ? ' ' : line[i];
        if (Upper(c) != static_cast<unsigned char>(upperName[i])) return false;
    }
    return true;
}

QByteArrayView HeaderField::FirstLine() const {
    const qsizetype end = raw.indexOf('\n');
    return WithoutLineEnd(QByteArrayView(raw).first(end < 0 ? raw.size() : end + 1));
}

bool HeaderField::Names(const Text& upperName, bool tabAsSpace) const {
    return colon == upperName.size() && LineNames(FirstLine(), upperName, tabAsSpace);
}

HeaderView::HeaderView(QByteArrayView text) {
    qsizetype at = 0;
    const qsizetype n = text.size();
    while (at < n) {
        qsizetype end = text.indexOf('\n', at);
        end = end < 0 ? n : end + 1;
        const QByteArrayView line = text.sliced(at, end - at);
        at = end;
        if (WithoutLineEnd(line).isEmpty() && line.endsWith('\n')) break;
        if (IsContinuationLine(line) && !fields_.isEmpty())
            fields_.last().raw += line;
        else
            fields_.append(FieldOf(line.toByteArray()));
    }
    end_ = at;
}

Text HeaderView::ToText() const {
    qsizetype size = 0;
    for (const HeaderField& f : fields_) size += f.raw.size();
    Text out;
    out.reserve(size);
    for (const HeaderField& f : fields_) out += f.raw;
    return out;
}

bool HeaderView::Blank() const {
    return std::all_of(fields_.begin(), fields_.end(), [](const HeaderField& f) {
        return std::all_of(f.raw.begin(), f.raw.end(), [](char c) { return IsWsp(c) || c == '\r' || c == '\n'; });
    });
}

Text HeaderView::Value(const Text& name) const {
    if (Trim(name).isEmpty()) return {};
    const Text upperName = UCase(FieldNameOf(name));
    for (const HeaderField& f : fields_) {
        if (IsBlankLine(f.FirstLine())) return {};
        if (f.Names(upperName, true)) {
            Text value;
            bool first = true;
            ForEachRawLine(f.raw, [&](QByteArrayView line) {
                value += first ? Trim(SpacedTabs(line.sliced(f.colon + 1))) : SpacedTabs(line);
                first = false;
                return true;
            });
            return value;
        }
        if (HasBlankContinuation(f)) return {};
    }
    return {};
}

int HeaderView::Count(const Text& name) const {
    const Text upperName = UCase(FieldNameOf(name));
    int count = 0;
    for (const HeaderField& f : fields_) {
        if (IsBlankLine(f.FirstLine())) break;
        if (f.Names(upperName, true)) ++count;
        if (HasBlankContinuation(f)) break;
    }
    return count;
}

bool HeaderView::Has(const Text& name) const {
    const Text upperName = UCase(FieldNameOf(name));
    return std::any_of(fields_.begin(), fields_.end(), [&](const HeaderField& f) { return f.Names(upperName, false); });
}

void HeaderView::Set(const Text& name, const Text& value) {
    const Text field = FieldNameOf(name);
    const Text newValue = Trim(value);
    if (field.isEmpty()) return;
    const Text upperName = UCase(field);
    for (qsizetype i = 0; i < fields_.size(); ++i) {
        if (!fields_[i].Names(upperName, false)) continue;
        if (newValue.isEmpty())
            fields_.removeAt(i);
        else
            fields_[i] =
                FieldOf(Trim(fields_[i].FirstLine().first(upperName.size()).toByteArray()) + ": " + newValue + CRLF);
        return;
    }
    if (!newValue.isEmpty()) Insert(field + ": " + newValue + CRLF);
}

void HeaderView::Insert(const Text& line) {
    const auto at = std::find_if(fields_.begin(), fields_.end(), [](const HeaderField& f) {
        const QByteArrayView first = f.FirstLine();
        return !IsTraceLine(first) && !IsContinuationLine(first);
    });
    fields_.insert(at, FieldOf(line));
}

void HeaderView::Remove(const TextList& names) {
    TextList upperNames;
    for (const Text& name : names) upperNames.append(UCase(FieldNameOf(name)));
    RemoveIf([&](const HeaderField& f) {
        return std::any_of(upperNames.begin(), upperNames.end(),
                           [&](const Text& upper) { return f.Names(upper, true); });
    });
}

void HeaderView::RemoveIf(const std::function<bool(const HeaderField&)>& unwanted) { fields_.removeIf(unwanted); }

void HeaderView::UndoDotStuffing() {
    const auto stuffed = [](const HeaderField& f) { return f.raw.startsWith("..") || f.raw.contains("\n.."); };
    if (std::none_of(fields_.begin(), fields_.end(), stuffed)) return;
    Text text = ToText();
    Text out;
    out.reserve(text.size());
    qsizetype at = 0;
    while (at < text.size()) {
        qsizetype end = text.indexOf('\n', at);
        end = end < 0 ? text.size() : end + 1;
        const QByteArrayView line = QByteArrayView(text).sliced(at, end - at);
        out += line.startsWith("..") ? line.sliced(1) : line;
        at = end;
    }
    *this = HeaderView(out);
}
