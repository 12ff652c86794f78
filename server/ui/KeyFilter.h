#pragma once
// The typed-key rules of the dialogs' text boxes. A rule sees each typed
// character and answers it unchanged, replaced, or 0 to discard it. Control
// characters other than backspace (shortcuts such as paste) and navigation
// keys are not typed characters and pass untouched; characters that one
// byte cannot hold are always discarded, since the files store bytes.
#include <QObject>
#include <functional>

class QLineEdit;

using KeyRule = std::function<char(char)>;

void InstallKeyFilter(QLineEdit* edit, KeyRule rule);

namespace KeyRules {
KeyRule Digits();                             // digits, backspace and "."
KeyRule Refuse(const char* refused);          // every key but these
KeyRule AliasName();                          // "," and ";" refused, space becomes "."
KeyRule UpperRefusing(const char* refused);   // lower-case letters become capitals
KeyRule Directory();                          // the keys a directory name may hold
}   // namespace KeyRules
