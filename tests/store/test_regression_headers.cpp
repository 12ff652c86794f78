// Found by fuzzing: a field that is to be added when missing must be added
// even when no line of the header can stand in front of it (only trace lines
// and continuations); otherwise the outgoing repair adds "Date" only on its
// second pass over the same text.
#include "server/store/Headers.h"

#include <gtest/gtest.h>

TEST(ChangeHeaderFieldRegression, AddsAMissingFieldWhateverTheLinesAndOnlyOnce) {
    for (const Text& message : {Text("Received: from a\r\n\tby b"), Text("Received: x"), Text(" "), Text("\t\r\n"),
                                Text(" folded\r\nX: y")}) {
        const Text once = ChangeHeaderField("Date", "now", message, true);
        EXPECT_TRUE(once.contains("Date: now")) << message.toStdString();
        EXPECT_EQ(ChangeHeaderField("Date", "now", once, true), once) << message.toStdString();
    }
    const Text traced = ChangeHeaderField("Date", "now", "Received: from a\r\n\tby b", true);
    EXPECT_EQ(GetHeaderField("Date", traced), "now");
    EXPECT_TRUE(traced.startsWith("Received: from a\r\n\tby b\r\n")) << traced.toStdString();
}
