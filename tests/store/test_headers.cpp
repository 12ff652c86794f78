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
    EXPECT_TRUE(replaced.endsWith("Subject: in the body"));  // later occurrences stay

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
