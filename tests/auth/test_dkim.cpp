// DKIM verification of the published example of RFC 8463 (Appendix A): its
// ed25519-sha256 and rsa-sha256 signatures verify with the published keys,
// and any change to what they cover makes them fail.
#include "server/auth/DkimVerify.h"

#include <gtest/gtest.h>

namespace {

const Text kEd25519Key = "v=DKIM1; k=ed25519; p=11qYAYKxCrfVS/7TyWQHOg7hcvPapiMlrwIaaPcHURo=";
// The RSA record as its TXT strings are joined.
const Text kRsaKey =
    "v=DKIM1; k=rsa; p=MIGfMA0GCSqGSIb3DQEBAQUAA4GNADCBiQKBgQDkHlOQoBTzWR"
    "iGs5V6NpP3idY6Wk08a5qhdR6wy5bdOKb2jLQiY/J16JYi0Qvx/byYzCNb3W91y3FutAC"
    "DfzwQ/BC/e/8uBsCR+yz1Lxj+PL6lHvqMKrM3rG4hstT5QjvHO9PzoxZyVYLzBfO2EeC3"
    "Ip3G+2kryOTIKT+l/K4w3QIDAQAB";

const Text kSigned =
    "DKIM-Signature: v=1; a=ed25519-sha256; c=relaxed/relaxed;\r\n"
    " d=football.example.com; i=@football.example.com;\r\n"
    " q=dns/txt; s=brisbane; t=1528637909; h=from : to :\r\n"
    " subject : date : message-id : from : subject : date;\r\n"
    " bh=2jUSOH9NhtVGCQWNr9BrIAPreKQjO6Sn7XIkfJVOzv8=;\r\n"
    " b=/gCrinpcQOoIfuHNQIbq4pgh9kyIK3AQUdt9OdqQehSwhEIug4D11Bus\r\n"
    " Fa3bT3FY5OsU7ZbnKELq+eXdp1Q1Dw==\r\n"
    "DKIM-Signature: v=1; a=rsa-sha256; c=relaxed/relaxed;\r\n"
    " d=football.example.com; i=@football.example.com;\r\n"
    " q=dns/txt; s=test; t=1528637909; h=from : to : subject :\r\n"
    " date : message-id : from : subject : date;\r\n"
    " bh=2jUSOH9NhtVGCQWNr9BrIAPreKQjO6Sn7XIkfJVOzv8=;\r\n"
    " b=F45dVWDfMbQDGHJFlXUNB2HKfbCeLRyhDXgFpEL8GwpsRe0IeIixNTe3\r\n"
    " DhCVlUrSjV4BwcVcOF6+FF3Zo9Rpo1tFOeS9mPYQTnGdaSGsgeefOsk2Jz\r\n"
    " dA+L10TeYt9BgDfQNZtKdN1WO//KgIqXP7OdEFE4LjFYNcUxZQ4FADY+8=\r\n"
    "From: Joe SixPack <joe@football.example.com>\r\n"
    "To: Suzie Q <suzie@shopping.example.net>\r\n"
    "Subject: Is dinner ready?\r\n"
    "Date: Fri, 11 Jul 2003 21:00:37 -0700 (PDT)\r\n"
    "Message-ID: <20030712040037.46341.5F8J@football.example.com>\r\n"
    "\r\n"
    "Hi.\r\n"
    "\r\n"
    "We lost the game.  Are you hungry yet?\r\n"
    "\r\n"
    "Joe.\r\n";

constexpr qint64 kNow = 1800000000;

TEST(DkimExampleTest, BothSignaturesVerifyAndAnyChangeFailsThem) {
    const DkimOutcome ed = CheckDkimSignature(kSigned, 0, kEd25519Key, kNow);
    EXPECT_EQ(ed.result, DkimResult::Pass) << ed.reason.constData();
    EXPECT_EQ(ed.domain, Text("football.example.com"));
    EXPECT_EQ(ed.selector, Text("brisbane"));
    EXPECT_EQ(ed.bPrefix, Text("/gCrinpc"));
    const DkimOutcome rsa = CheckDkimSignature(kSigned, 1, kRsaKey, kNow);
    EXPECT_EQ(rsa.result, DkimResult::Pass) << rsa.reason.constData();

    // Relaxed canonicalization: white space inside a line and empty lines
    // at the end do not matter; a letter does.
    Text spaced = kSigned;
    spaced.replace("the game.  Are", "the game. \t Are").append("\r\n\r\n");
    EXPECT_EQ(CheckDkimSignature(spaced, 0, kEd25519Key, kNow).result, DkimResult::Pass);
    Text body = kSigned;
    body.replace("hungry", "Hungry");
    EXPECT_EQ(CheckDkimSignature(body, 0, kEd25519Key, kNow).result, DkimResult::Fail);
    EXPECT_EQ(CheckDkimSignature(body, 1, kRsaKey, kNow).reason, Text("body hash did not verify"));
    Text header = kSigned;
    header.replace("Subject: Is dinner ready?", "Subject: Is dinner ready!");
    EXPECT_EQ(CheckDkimSignature(header, 0, kEd25519Key, kNow).result, DkimResult::Fail);
    EXPECT_EQ(CheckDkimSignature(header, 1, kRsaKey, kNow).reason, Text("signature did not verify"));

    // The wrong key, a revoked key, a key record that is no key record.
    EXPECT_EQ(CheckDkimSignature(kSigned, 0, kRsaKey, kNow).result, DkimResult::Fail);
    EXPECT_EQ(CheckDkimSignature(kSigned, 0, "v=DKIM1; k=ed25519; p=", kNow).reason, Text("key revoked"));
    EXPECT_EQ(CheckDkimSignature(kSigned, 1, "v=DKIM1; p=%%", kNow).result, DkimResult::PermError);
}

TEST(DkimExampleTest, ExpiryShortKeysAndSha1Fail) {
    Text expiring = kSigned;
    expiring.replace("t=1528637909; h=from : to :", "t=1528637909; x=1528640000; h=from : to :");
    const DkimOutcome expired = CheckDkimSignature(expiring, 0, kEd25519Key, kNow);
    EXPECT_EQ(expired.result, DkimResult::Fail);
    EXPECT_EQ(expired.reason, Text("signature expired"));
    Text sha1 = kSigned;
    sha1.replace("a=rsa-sha256", "a=rsa-sha1");
    EXPECT_EQ(CheckDkimSignature(sha1, 1, kRsaKey, kNow).reason, Text("rsa-sha1 is not accepted"));
    // A 512-bit RSA key (its SubjectPublicKeyInfo): refused whatever it signed.
    const Text shortKey =
        "v=DKIM1; p=MFwwDQYJKoZIhvcNAQEBBQADSwAwSAJBAO9rIvXn95iD1UI2L/quvT6hUSsgASgwISfVbvHSlHwKbY+BbREShqo1D6eQ"
        "P5CAegciHSmDZUD0udX3H3D8BrMCAwEAAQ==";
    EXPECT_EQ(CheckDkimSignature(kSigned, 1, shortKey, kNow).reason, Text("RSA key too short"));
}

}   // namespace
