#include "server/store/HeaderView.h"
#include "server/store/Headers.h"

#include <gtest/gtest.h>

namespace {
const Text kMessage =
    "Received: from a\r\n"
    "\tby b\r\n"
    "Return-Path: <x@y>\r\n"
    "Subject: first\r\n"
    "\tsecond\r\n"
    "From: Joe <joe@example.com>\r\n"
    "\r\n"
    "Subject: in the body\r\n";
}

TEST(GetHeaderField, UnfoldsContinuationsAndStopsAtTheBlankLine) {
    EXPECT_EQ(GetHeaderField("subject", kMessage), "first second");
    EXPECT_EQ(GetHeaderField("From:", kMessage), "Joe <joe@example.com>");
    EXPECT_EQ(GetHeaderField("To", kMessage), "");
    EXPECT_EQ(GetHeaderField("Subject", "\r\nSubject: body only\r\n"), "");
    EXPECT_EQ(GetHeaderField("Subject", "Subject : spaced\r\n"), "");
    EXPECT_EQ(GetHeaderField("", kMessage), "");
}

TEST(GetHeaderField, IgnoresTheAttachmentSection) {
    const Text m = "To: a@b\r\n\r\nbody\r\nContent-Type: application/octet-stream\r\nX-Late: 1\r\n";
    EXPECT_EQ(GetHeaderField("X-Late", m), "");
    EXPECT_EQ(AttachmentStart(m), m.indexOf("\r\nContent-Type"));
}

TEST(ChangeHeaderField, ReplacesDeletesAndAdds) {
    const Text replaced = ChangeHeaderField("subject", "new", kMessage, false);
    EXPECT_TRUE(replaced.contains("Subject: new\r\nFrom:"));
    EXPECT_FALSE(replaced.contains("second"));
    EXPECT_TRUE(replaced.endsWith("Subject: in the body"));   // later occurrences stay

    const Text deleted = ChangeHeaderField("Subject", "", kMessage, false);
    EXPECT_EQ(deleted.count("Subject:"), 1);
    EXPECT_FALSE(deleted.contains("second"));

    const Text added = ChangeHeaderField("To", "<u@bbs>", kMessage, true);
    EXPECT_TRUE(added.startsWith("Received: from a\r\n\tby b\r\nReturn-Path: <x@y>\r\nTo: <u@bbs>\r\nSubject: first"));
}

TEST(ChangeHeaderField, MissingFieldWithoutAddOnlyStripsLineEnds) {
    EXPECT_EQ(ChangeHeaderField("To", "x", "A: 1\r\n\r\nbody\r\n\r\n", false), "A: 1\r\n\r\nbody");
}

TEST(ChangeHeaderField, DeletesInTheBodyWhenTheHeaderLacksIt) {
    const Text m = "A: 1\r\n\r\nSubject: body\r\n\tmore\r\nend\r\n";
    EXPECT_EQ(ChangeHeaderField("Subject", "", m, false), "A: 1\r\n\r\nend");
}

TEST(ChangeHeaderField, KeepsTheAttachmentByteForByte) {
    const Text tail = "\r\nContent-Type: application/zip\r\n\r\nUEsDBA==\r\n\r\n";
    const Text m = Text("Subject: s\r\n\r\nbody") + tail;
    EXPECT_EQ(ChangeHeaderField("Subject", "t", m, false), Text("Subject: t\r\n\r\nbody") + tail);
}

TEST(GetPath, Forms) {
    EXPECT_EQ(GetPath("<@relay.one,@relay.two:user@host>"), "user@host");
    EXPECT_EQ(GetPath("<>"), "");
    EXPECT_EQ(GetPath("user@host (Joe User)"), "user@host");
    EXPECT_EQ(GetPath("Joe <joe@host"), "");
    EXPECT_EQ(GetPath("joe@host>"), "");
    EXPECT_EQ(GetPath("  Joe < joe@host > "), "joe@host");
    EXPECT_EQ(GetPath("nobody"), "");
}

TEST(GetHeaderField, ALineWithoutAColonNamesNoField) {
    EXPECT_EQ(GetHeaderField("Subject", "Subject\r\nSubject: real\r\n\r\n"), "real");
    const Text m = "A: 1\r\n\r\nSubject\r\nend\r\n";
    EXPECT_EQ(ChangeHeaderField("Subject", "", m, false), "A: 1\r\n\r\nSubject\r\nend");
    EXPECT_EQ(ChangeHeaderField("Subject", "x", m, false), "A: 1\r\n\r\nSubject\r\nend");
}

TEST(GetHeaderField, TabsReadAsSpacesAndBlankContinuations) {
    EXPECT_EQ(GetHeaderField("X Y", "X\tY:\tv\r\n\r\n"), "v");
    // A continuation is taken whole, even one of spaces only; the empty line ends it.
    EXPECT_EQ(GetHeaderField("S", "S: a\r\n \t\r\n b\r\n\r\n c\r\n"), "a   b");
    EXPECT_EQ(GetHeaderField("S", "S: a\n b\rT: c\r\n"), "a b");   // lone LF and CR end lines too
}

TEST(GetHeaderField, AnAttachmentMarkInTheHeaderEndsIt) {
    const Text m = "A: 1\r\nContent-Type: application/zip\r\nB: 2\r\n\r\nbody\r\n";
    EXPECT_EQ(GetHeaderField("A", m), "1");
    EXPECT_EQ(GetHeaderField("B", m), "");
    EXPECT_EQ(GetHeaderField("Content-Type", m), "");
    // The mark must start with a line end: the first line is no attachment.
    EXPECT_EQ(GetHeaderField("Content-Type", "Content-Type: application/zip\r\n\r\n"), "application/zip");
}

TEST(GetHeaderField, ALargeBodyIsNotRead) {
    Text m = "Subject: s\r\n\r\n";
    m += Text(8 << 20, 'x');
    m += "\r\nSubject: late\r\n";
    EXPECT_EQ(GetHeaderField("subject", m), "s");
    const Text changed = ChangeHeaderField("X-New", "1", m, true);
    EXPECT_TRUE(changed.startsWith("X-New: 1\r\nSubject: s\r\n\r\nxxx"));
    EXPECT_EQ(changed.size(), m.size() + 10 - 2);   // the new line in, the last CR LF gone
}

TEST(ChangeHeaderField, ReplacingKeepsTheNameAsWrittenAndDropsTabContinuations) {
    EXPECT_EQ(ChangeHeaderField(" SUBJECT: ", " new ", "subJect :old\r\n\tmore\r\nB: 2", false),
              "subJect :old\r\n\tmore\r\nB: 2");
    EXPECT_EQ(ChangeHeaderField("subject", "new", "subJect:old\r\n\tmore\r\n more\r\nB: 2", false),
              "subJect: new\r\nB: 2");
    EXPECT_EQ(ChangeHeaderField("To", "x", "", true), "To: x");
}

TEST(ChangeHeaderField, AddsAfterTraceLinesWhenNothingElseFollows) {
    EXPECT_EQ(ChangeHeaderField("Date", "x", "Received: a\r\n\tby b", true), "Received: a\r\n\tby b\r\nDate: x");
    EXPECT_EQ(ChangeHeaderField("Date", "x", " ", true), " \r\nDate: x");
    EXPECT_EQ(ChangeHeaderField("To", "x", "Received: a\r\nReturn-Path: b", true),
              "Received: a\r\nReturn-Path: b\r\nTo: x");
}

// The intake reads and edits a header through a HeaderView: on every header
// block it meets, each answer and each edit must be the text helpers' own.
TEST(HeaderView, AnswersAndEditsAsTheTextHelpers) {
    const TextList heads{
        kMessage.left(kMessage.indexOf("\r\n\r\n") + 2),
        "S: a\r\n \t\r\n b\r\nT: after a blank continuation\r\n",
        " leading continuation\r\nTo: <a@b>\r\nto: <second@b>\r\n",
        "X\tY:\tv\r\nsubJect :spaced\r\nSubject\r\nSubject: real\r\n",
        "Received: a\r\n\tby b\r\nReturn-Path: b\r\nX-OSPRINE-Status: sent\r\n\tfolded\r\nx-osprine-attempts: 3\r\n",
    };
    const TextList names{"Subject", "To", "S", "T", "X Y", "Received", "X-OSPRINE-Status", ":x", "Date"};
    for (const Text& head : heads) {
        const HeaderView view(head);
        EXPECT_EQ(view.ToText(), head);
        for (const Text& name : names) {
            EXPECT_EQ(view.Value(name), GetHeaderField(name, head)) << name.constData() << " in " << head.constData();
            EXPECT_EQ(view.Count(name), CountHeaderFields(head, name)) << name.constData();
            if (FieldNameOf(name).isEmpty()) continue;   // no field to set: the text helper changes nothing
            for (const Text& value : {Text(" new "), Text()}) {
                HeaderView edited = view;
                edited.Set(name, value);
                const Text changed = ChangeHeaderField(name, value, head, true);
                EXPECT_EQ(edited.ToText(), changed.isEmpty() ? changed : changed + CRLF) << name.constData();
            }
        }
        HeaderView removed = view;
        removed.Remove({"x-osprine-status", "X-OSPRINE-Attempts", "To"});
        EXPECT_EQ(removed.ToText(), RemoveHeaderFields(head, {"x-osprine-status", "X-OSPRINE-Attempts", "To"}));
    }
}
