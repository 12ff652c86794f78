#include "server/ui/KeyFilter.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <cctype>
#include <cstring>

namespace {

constexpr char kBackspace = 8;

class KeyFilter : public QObject {
public:
    KeyFilter(QLineEdit* edit, KeyRule rule) : QObject(edit), edit_(edit), rule_(std::move(rule)) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched != edit_ || event->type() != QEvent::KeyPress) return false;
        const QString typed = static_cast<QKeyEvent*>(event)->text();
        if (typed.isEmpty()) return false;
        QByteArray kept;
        bool changed = false;
        for (const QChar ch : typed) {
            const ushort code = ch.unicode();
            if (code < 32 && code != kBackspace) return false;   // a shortcut, not a typed character
            const char c = code > 255 ? 0 : rule_(char(code));
            if (c != char(code)) changed = true;
            if (c) kept += c;
        }
        if (!changed) return false;
        if (kept == QByteArray(1, kBackspace)) return false;
        if (!kept.isEmpty()) edit_->insert(QString::fromLatin1(kept));
        return true;
    }

private:
    QLineEdit* edit_;
    KeyRule rule_;
};

char Upper(char c) { return char(std::toupper(static_cast<unsigned char>(c))); }
bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

}   // namespace

void InstallKeyFilter(QLineEdit* edit, KeyRule rule) { edit->installEventFilter(new KeyFilter(edit, std::move(rule))); }

namespace KeyRules {

KeyRule Digits() {
    return [](char c) -> char {
        return (std::isdigit(static_cast<unsigned char>(c)) || c == kBackspace || c == '.') ? c : 0;
    };
}

KeyRule Refuse(const char* refused) {
    return [refused](char c) -> char { return std::strchr(refused, c) && c ? 0 : c; };
}

KeyRule AliasName() {
    return [](char c) -> char { return c == ',' || c == ';' ? 0 : c == ' ' ? '.' : c; };
}

KeyRule UpperRefusing(const char* refused) {
    return
        [refused](char c) -> char { return std::strchr(refused, c) && c ? 0 : (c >= 'a' && c <= 'z' ? Upper(c) : c); };
}

KeyRule Directory() {
    return [](char c) -> char {
        // Paths keep their letter case here; "/" and "." are this platform's path characters.
        const bool ok = c == kBackspace || std::isdigit(static_cast<unsigned char>(c)) || IsLetter(c) ||
                        std::strchr("!'-:\\_`~/.", c);
        return ok ? c : 0;
    };
}

}   // namespace KeyRules
