#pragma once
// A message's header taken apart once: its fields in order, each with its
// raw lines. The intake reads and repairs a header through one view instead
// of walking the text again for every field it asks about; the helpers of
// Headers.h keep working on text for callers that have only text, and a view
// answers as they do.
#include <QByteArrayView>
#include <QList>
#include <functional>
#include "server/store/Text.h"

struct HeaderField {
    Text name;              // as written before ":", white space at its end removed (the whole line without ":")
    Text raw;               // the field's lines (the first and its continuations), each with its line end
    qsizetype colon = -1;   // where the first ":" of the first line is, or -1

    // The first line without its line end.
    QByteArrayView FirstLine() const;
    // The part before ":" is `upperName`, letter case ignored (with
    // `tabAsSpace`, a TAB there read as a space).
    bool Names(const Text& upperName, bool tabAsSpace) const;
};

class HeaderView {
public:
    HeaderView() = default;
    // Lines ended by CR LF or LF, up to the first empty line or the end; a
    // line that begins with a space or a TAB continues the field before it.
    explicit HeaderView(QByteArrayView text);

    const QList<HeaderField>& Fields() const { return fields_; }
    // Where the header ended in the text it was made from: after the empty
    // line, or the text's length.
    qsizetype End() const { return end_; }
    Text ToText() const;
    // Nothing but spaces, TABs and line ends (or nothing at all).
    bool Blank() const;

    // As GetHeaderField: the first such field's value, unfolded, TABs read as
    // spaces, "" when missing. As there, the fields after a blank line are
    // not read.
    Text Value(const Text& name) const;
    // As CountHeaderFields.
    int Count(const Text& name) const;
    // A field of that name exists anywhere (TABs in the name not read as spaces).
    bool Has(const Text& name) const;

    // As ChangeHeaderField with a missing field added: the first field of
    // that name gets `value` (trimmed) and loses its continuations; an empty
    // value removes it.
    void Set(const Text& name, const Text& value);
    // Adds a whole line (with its line end) before the first field that is
    // neither a trace field (Return-Path, Received) nor a continuation; at the end when none is.
    void Insert(const Text& line);
    // As RemoveHeaderFields.
    void Remove(const TextList& names);
    void RemoveIf(const std::function<bool(const HeaderField&)>& unwanted);
    // Every line that begins with ".." loses its first character.
    void UndoDotStuffing();

private:
    QList<HeaderField> fields_;
    qsizetype end_ = 0;
};

// A header field name the way the text helpers take it: trimmed, cut at ":".
Text FieldNameOf(const Text& name);
// True when the part of the line before its first ":" is the field name,
// letter case ignored (with `tabAsSpace`, a TAB there read as a space). A
// line without ":" names no field, so a body line that holds only a word
// such as "Subject" is never taken for one.
bool LineNames(QByteArrayView line, const Text& upperName, bool tabAsSpace = false);
// A header line (without its line end) that continues the field before it:
// it begins with a space or a TAB.
bool IsContinuationLine(QByteArrayView line);
// Nothing but spaces and TABs (or nothing at all).
bool IsBlankLine(QByteArrayView line);
// A "Return-Path:" or "Received:" line, letter case ignored.
bool IsTraceLine(QByteArrayView line);
