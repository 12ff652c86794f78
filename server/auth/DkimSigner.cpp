#include "server/auth/DkimSigner.h"
#include <QHash>
#include "server/auth/DkimCanon.h"

namespace {

constexpr qsizetype kFoldWidth = 72;

// The h= list: every signed header once per occurrence, From once more.
TextList SignedHeaderNames(const QList<HeaderField>& fields) {
    TextList names;
    for (const char* name : kDkimSignedHeaders) {
        for (const HeaderField& f : fields)
            if (SameText(f.name, name)) names << name;
    }
    names << "From";
    return names;
}

// The canonical fields in h= order; each name takes its bottom-most
// occurrence not yet taken (RFC 6376 5.4.2), and one with none left adds
// nothing.
Text CanonicalHeaders(const QList<HeaderField>& fields, const TextList& names) {
    QHash<Text, QList<qsizetype>> occurrences;
    for (qsizetype i = 0; i < fields.size(); ++i) occurrences[LCase(fields[i].name)].append(i);
    Text out;
    for (const Text& name : names) {
        QList<qsizetype>& left = occurrences[LCase(name)];
        if (left.isEmpty()) continue;
        out += CanonicalHeader(fields[left.takeLast()], true);
    }
    return out;
}

// The Base64 signature broken into folded lines.
Text Folded(const Text& value) {
    Text out;
    for (qsizetype at = 0; at < value.size(); at += kFoldWidth) {
        if (at > 0) out += "\r\n\t";
        out += value.mid(at, kFoldWidth);
    }
    return out;
}

}   // namespace

Text DkimSignatureField(const Text& message, const DkimSigningKey& key, const DkimIdentity& identity, qint64 unixTime) {
    const SplitMail mail = SplitForDkim(message);
    const TextList names = SignedHeaderNames(mail.fields);
    const Text bodyHash = Sha256Digest(CanonicalBody(mail.body, true)).toBase64();
    const Text unsignedField = "DKIM-Signature: v=1; a=" + key.Algorithm() +
                               "; c=relaxed/relaxed; d=" + identity.domain + "; s=" + identity.selector +
                               ";\r\n\tt=" + NumText(unixTime) + "; h=" + names.join(':') + ";\r\n\tbh=" + bodyHash +
                               ";\r\n\tb=";
    // The signature's own field enters without its final line end.
    const Text ownField = CanonicalHeader({"DKIM-Signature", unsignedField + CRLF}, true).chopped(2);
    const Text signature = key.Sign(CanonicalHeaders(mail.fields, names) + ownField);
    if (signature.isEmpty()) return {};
    return unsignedField + Folded(signature.toBase64()) + CRLF;
}

bool WithinDomain(const Text& domain, const Text& signingDomain) {
    const Text d = LCase(Trim(domain));
    const Text s = LCase(Trim(signingDomain));
    return !s.isEmpty() && (d == s || d.endsWith('.' + s));
}
