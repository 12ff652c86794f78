#include "updater/CommandLine.h"
#include <limits>

QString GetCommandLine(const QStringList& arguments, const QString& name) {
    // The command line is one text of options separated by spaces; an argument
    // quoted with spaces inside still splits the same way.
    const QStringList options = arguments.join(QLatin1Char(' ')).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (const QString& option : options) {
        const qsizetype equals = option.indexOf(QLatin1Char('='));
        const QString optionName = (equals < 0 ? option : option.left(equals)).trimmed();
        if (optionName.compare(name, Qt::CaseInsensitive) != 0) continue;
        return equals < 0 ? QStringLiteral("1") : option.mid(equals + 1).trimmed();
    }
    return {};
}

qint64 LeadingNumber(const QByteArray& text) {
    qsizetype i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    qint64 value = 0;
    constexpr qint64 limit = std::numeric_limits<qint64>::max() / 10 - 10;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        if (value > limit) break;   // absurdly long digit runs stop growing
        value = value * 10 + (text[i] - '0');
    }
    return negative ? -value : value;
}
