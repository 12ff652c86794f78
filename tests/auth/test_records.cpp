// The record parsers of sender authentication: DKIM tag lists, signatures
// and keys, SPF records, DMARC records.
#include "server/auth/DkimKey.h"
#include "server/auth/DkimSignature.h"
#include "server/auth/DmarcRecord.h"
#include "server/auth/SpfMacros.h"
#include "server/auth/SpfRecord.h"
#include "server/auth/TagList.h"

#include <gtest/gtest.h>

namespace {

TEST(TagListTest, FoldedWhiteSpaceTrailingSemicolonAndErrors) {
    const auto tags = TagList::Parse(" v = 1 ;\r\n\ta=rsa-sha256; h=From : To;\r\n b=ab\r\n cd ;");
    ASSERT_TRUE(tags);
    EXPECT_EQ(tags->Tags().size(), 4);
    EXPECT_EQ(tags->Value("v"), Text("1"));
    EXPECT_EQ(tags->Value("h"), Text("From : To"));
    EXPECT_EQ(tags->Value("b"), Text("ab\r\n cd"));
    EXPECT_EQ(WithoutTagSpace(tags->Value("b")), Text("abcd"));
    EXPECT_FALSE(tags->Has("V"));   // names are case-sensitive
    for (const char* bad : {"a=1; a=2", "a=1;; b=2", "=1", "1a=2", "a", "a=1 ; b", "a=\x01", "a-b=1"})
        EXPECT_FALSE(TagList::Parse(bad)) << bad;
    EXPECT_TRUE(TagList::Parse(""));
    EXPECT_TRUE(TagList::Parse("a="));   // empty values are allowed
}

TEST(DkimRecordsTest, SignatureTagsAreReadAndCheckedAndKeysToo) {
    Text error;
    const auto sig = ParseDkimSignature(
        "v=1; a=RSA-SHA256; c=relaxed/simple; d=Example.COM; s=sel; i=joe@mail.example.com;\r\n"
        " h=From:To:Subject; l=120; t=1700000000; x=1800000000; bh=YWJj; b=ZGVm\r\n ZGVm",
        &error);
    ASSERT_TRUE(sig) << error.constData();
    EXPECT_EQ(sig->algorithm, Text("rsa-sha256"));
    EXPECT_TRUE(sig->relaxedHeader);
    EXPECT_FALSE(sig->relaxedBody);
    EXPECT_EQ(sig->domain, Text("example.com"));
    EXPECT_EQ(sig->signedHeaders, (TextList{"From", "To", "Subject"}));
    EXPECT_EQ(sig->length, 120);
    EXPECT_EQ(sig->expiry, 1800000000);
    EXPECT_EQ(sig->bodyHash, QByteArray("abc"));
    EXPECT_EQ(sig->signature, QByteArray("defdef"));
    EXPECT_EQ(sig->rawSignature, Text("ZGVmZGVm"));
    const auto plain = ParseDkimSignature("v=1; a=ed25519-sha256; d=e.test; s=s; h=from; bh=YQ==; b=Yg==");
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->identity, Text("@e.test"));
    EXPECT_FALSE(plain->relaxedHeader || plain->relaxedBody);   // simple/simple by default
    const Text ok = "v=1; a=rsa-sha256; d=e.test; s=s; bh=YQ==; b=Yg==";
    for (const Text& bad :
         {ok + "; h=to", ok + "; h=from; v=2", Text("v=1; a=rsa-sha256; d=e.test; s=s; h=from; b=Yg=="),
          ok + "; h=from; i=joe@other.test", ok + "; h=from; c=loose", ok + "; h=from; l=12a",
          ok + "; h=from; t=20; x=10", ok + "; h=from; q=http", Text(ok).replace("b=Yg==", "b=!!")})
        EXPECT_FALSE(ParseDkimSignature(bad)) << bad.constData();

    // The b= value goes with its white space; bh= is left alone.
    EXPECT_EQ(WithoutSignatureValue("DKIM-Signature: v=1; bh=abc; b=de\r\n f ; d=x"),
              Text("DKIM-Signature: v=1; bh=abc; b=; d=x"));
    EXPECT_EQ(WithoutSignatureValue("DKIM-Signature: v=1; bh=abc;\r\n b = de\r\n f"),
              Text("DKIM-Signature: v=1; bh=abc;\r\n b ="));

    const auto key =
        ParseDkimKey("v=DKIM1; k=ed25519; h=sha256; t=y:s; p=11qYAYKxCrfVS/7TyWQHOg7hcvPapiMlrwIaaPcHURo=");
    ASSERT_TRUE(key);
    EXPECT_EQ(key->keyType, Text("ed25519"));
    EXPECT_EQ(key->publicKey.size(), 32);
    EXPECT_TRUE(key->testing && key->sameDomain && key->emailService);
    const auto revoked = ParseDkimKey("v=DKIM1; p=");
    ASSERT_TRUE(revoked);
    EXPECT_TRUE(revoked->publicKey.isEmpty());
    EXPECT_EQ(revoked->keyType, Text("rsa"));
    EXPECT_FALSE(ParseDkimKey("k=rsa; v=DKIM1; p=YQ=="));   // v= must come first
    EXPECT_FALSE(ParseDkimKey("v=DKIM2; p=YQ=="));
    EXPECT_FALSE(ParseDkimKey("v=DKIM1; k=rsa"));
    EXPECT_FALSE(ParseDkimKey("v=DKIM1; p=%%%"));
    EXPECT_FALSE(ParseDkimKey("v=DKIM1; s=other; p=YQ==")->emailService);
}

TEST(SpfRecordTest, TermsMacrosAndSyntaxErrors) {
    Text error;
    const auto r = ParseSpfRecord(
        "v=spf1  +a -mx:mail.%{d}/24//64 ~ip4:192.0.2.0/24 ?ip6:2001:db8::/32 include:_spf.example.com "
        "exists:%{ir}.%{l1r+-}._spf.%{d} ptr redirect=_spf.example.net exp=explain._spf.%{d} custom=%{i}",
        &error);
    ASSERT_TRUE(r) << error.constData();
    ASSERT_EQ(r->directives.size(), 7);
    EXPECT_EQ(r->directives[0].mechanism, SpfMechanism::A);
    EXPECT_EQ(r->directives[1].qualifier, SpfQualifier::Fail);
    EXPECT_EQ(r->directives[1].domainSpec, Text("mail.%{d}"));
    EXPECT_EQ(r->directives[1].cidr4, 24);
    EXPECT_EQ(r->directives[1].cidr6, 64);
    EXPECT_EQ(r->directives[2].network, Text("192.0.2.0"));
    EXPECT_EQ(r->directives[3].network, Text("2001:db8::"));
    EXPECT_EQ(r->directives[3].cidr6, 32);
    EXPECT_EQ(r->directives[5].domainSpec, Text("%{ir}.%{l1r+-}._spf.%{d}"));
    EXPECT_EQ(r->redirect, Text("_spf.example.net"));
    EXPECT_EQ(r->explanation, Text("explain._spf.%{d}"));
    EXPECT_TRUE(IsSpfRecord("V=SPF1"));
    EXPECT_FALSE(IsSpfRecord("v=spf10 -all"));
    for (const char* bad : {"v=spf1 ip4:192.0.2.0/33", "v=spf1 ip4:192.0.2", "v=spf1 a:foo.example.com/024",
                            "v=spf1 foo", "v=spf1 include:", "v=spf1 redirect=a.example redirect=b.example",
                            "v=spf1 exists:%{x}.example.com", "v=spf1 a:%{d", "v=spf1 -all:foo", "v=spf1 ip6:1.2.3.4",
                            "v=spf1 include:foo.example.123", "v=spf1 a:example.com%"})
        EXPECT_FALSE(ParseSpfRecord(bad)) << bad;
    EXPECT_TRUE(ParseSpfRecord("v=spf1 a:%{d}"));
    EXPECT_TRUE(ParseSpfRecord("v=spf1 unknown-mod=%% -all"));
}

// The examples of RFC 7208 section 7.4.
TEST(SpfRecordTest, MacroExpansionAsTheRfcShowsIt) {
    const SpfMacroValues v{"strong-bad@email.example.com", "email.example.com", "192.0.2.3", "mx.example.org"};
    const std::pair<const char*, const char*> cases[] = {
        {"%{s}", "strong-bad@email.example.com"},
        {"%{o}", "email.example.com"},
        {"%{d4}", "email.example.com"},
        {"%{d2}", "example.com"},
        {"%{d1}", "com"},
        {"%{dr}", "com.example.email"},
        {"%{d2r}", "example.email"},
        {"%{l}", "strong-bad"},
        {"%{l-}", "strong.bad"},
        {"%{lr}", "strong-bad"},
        {"%{lr-}", "bad.strong"},
        {"%{l1r-}", "strong"},
        {"%{ir}.%{v}._spf.%{d2}", "3.2.0.192.in-addr._spf.example.com"},
        {"%{lr-}.lp.%{ir}.%{v}._spf.%{d2}", "bad.strong.lp.3.2.0.192.in-addr._spf.example.com"},
        {"%{ir}.%{v}.%{l1r-}.lp._spf.%{d2}", "3.2.0.192.in-addr.strong.lp._spf.example.com"},
        {"%{d2}.trusted-domains.example.net", "example.com.trusted-domains.example.net"},
        {"%{h}%%%_%-", "mx.example.org% %20"},
        {"%{L}", "strong-bad"},
        {"%{S}", "strong-bad%40email.example.com"},
    };
    for (const auto& [macroText, expanded] : cases)
        EXPECT_EQ(ExpandSpfMacros(macroText, v), Text(expanded)) << macroText;
    const SpfMacroValues v6{"strong-bad@email.example.com", "email.example.com", "2001:db8::cb01", ""};
    EXPECT_EQ(ExpandSpfMacros("%{ir}.%{v}._spf.%{d2}", v6),
              Text("1.0.b.c.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.8.b.d.0.1.0.0.2.ip6._spf.example.com"));
    EXPECT_FALSE(ExpandSpfMacros("%{x}", v));
    EXPECT_FALSE(ExpandSpfMacros("%{d", v));
    // Over 253 characters: labels go from the left.
    const auto longName = ExpandSpfMacros("%{s}%{s}%{s}%{s}%{s}%{s}%{s}%{s}%{s}.%{d}", v);
    ASSERT_TRUE(longName);
    EXPECT_LE(longName->size(), 253);
    EXPECT_TRUE(longName->endsWith(".email.example.com"));
}

TEST(DmarcRecordTest, PolicyTagsAndFallbacks) {
    const auto r = ParseDmarcRecord("v=DMARC1; p=Reject; sp=quarantine; adkim=s; aspf=r; pct=25; rua=mailto:x@e.test");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->policy, DmarcPolicy::Reject);
    EXPECT_EQ(r->subdomainPolicy, DmarcPolicy::Quarantine);
    EXPECT_TRUE(r->strictDkim);
    EXPECT_FALSE(r->strictSpf);
    EXPECT_EQ(r->percent, 25);
    const auto fallback = ParseDmarcRecord("v=DMARC1; p=bogus; pct=300; rua=mailto:x@e.test");
    ASSERT_TRUE(fallback);
    EXPECT_EQ(fallback->policy, DmarcPolicy::None);
    EXPECT_EQ(fallback->percent, 100);
    EXPECT_FALSE(fallback->subdomainPolicy);
    EXPECT_FALSE(ParseDmarcRecord("v=DMARC1; p=bogus"));
    EXPECT_FALSE(ParseDmarcRecord("p=reject; v=DMARC1"));
    EXPECT_FALSE(ParseDmarcRecord("v=dmarc1; p=reject"));
    EXPECT_FALSE(ParseDmarcRecord("v=DMARC1; p=reject; p=none"));
}

}   // namespace
