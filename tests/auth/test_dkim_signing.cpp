// The signer and the verifier agree: what DkimSignatureField signs with a
// new RSA or Ed25519 key verifies against the key record the key prints,
// and fails after any change to what it covers, a From added on top
// included (From is signed once more than it occurs).
#include <gtest/gtest.h>
#include "server/auth/DkimSigner.h"
#include "server/auth/DkimVerify.h"

namespace {

constexpr qint64 kNow = 1800000000;

const Text kMessage =
    "Received: from 127.0.0.1\r\n\tby bbs.example (OSPRINE v1.4.060711); Tue, 08 Dec 2026 11:56:51 +0000\r\n"
    "From: The Sysop <sysop@bbs.example>\r\n"
    "To: far@remote.example\r\n"
    "Subject: A folded\r\n  subject\r\n"
    "X-Mailer: not signed\r\n"
    "\r\n"
    "Text  with\tblanks \r\n.a dotted line\r\n\r\n\r\n";

Text Signed(const DkimSigningKey& key) {
    return DkimSignatureField(kMessage, key, {"bbs.example", "s1"}, kNow) + kMessage;
}

DkimResult Verify(const Text& message, const DkimSigningKey& key) {
    return CheckDkimSignature(message, 0, DkimKeyRecord(key), kNow).result;
}

void ExpectSignerAndVerifierAgree(DkimKeyType type) {
    Text why;
    const std::optional<DkimSigningKey> key = DkimSigningKey::Generate(type, why);
    ASSERT_TRUE(key) << why.constData();
    const Text message = Signed(*key);
    EXPECT_TRUE(message.contains("; h=From:To:Subject:From;\r\n")) << message.constData();
    EXPECT_EQ(Verify(message, *key), DkimResult::Pass);

    Text blanks = message;
    blanks.replace("Text  with", "Text with").chop(4);
    EXPECT_EQ(Verify(blanks, *key), DkimResult::Pass);
    EXPECT_EQ(Verify(Text(message).replace("dotted", "Dotted"), *key), DkimResult::Fail);
    EXPECT_EQ(Verify(Text(message).replace("A folded", "A Folded"), *key), DkimResult::Fail);
    EXPECT_EQ(Verify(Text(message).replace("X-Mailer: not signed", "X-Mailer: changed"), *key), DkimResult::Pass);
    Text secondFrom = message;
    secondFrom.insert(secondFrom.indexOf("From: The Sysop"), "From: mallory@bbs.example\r\n");
    EXPECT_EQ(Verify(secondFrom, *key), DkimResult::Fail);

    // A key the file holds signs as the key that wrote it.
    const std::optional<DkimSigningKey> read = DkimSigningKey::FromPem(key->PrivatePem(), why);
    ASSERT_TRUE(read) << why.constData();
    EXPECT_EQ(Verify(Signed(*read), *key), DkimResult::Pass);
}

TEST(DkimSigningTest, RsaSignaturesVerify) { ExpectSignerAndVerifierAgree(DkimKeyType::Rsa); }

TEST(DkimSigningTest, Ed25519SignaturesVerify) { ExpectSignerAndVerifierAgree(DkimKeyType::Ed25519); }

TEST(DkimSigningTest, AlignedDomains) {
    EXPECT_TRUE(WithinDomain("BBS.example", "bbs.example"));
    EXPECT_TRUE(WithinDomain("lists.bbs.example", "bbs.example"));
    EXPECT_FALSE(WithinDomain("otherbbs.example", "bbs.example"));
    EXPECT_FALSE(WithinDomain("bbs.example", ""));
}

}   // namespace
