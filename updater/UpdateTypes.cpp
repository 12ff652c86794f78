#include "updater/UpdateTypes.h"

int NormalUpdateType(int type) { return type == 1 || type == 2 ? type : 3; }

QString UpdateTypeName(int type) {
    switch (NormalUpdateType(type)) {
    case 1:
        return QStringLiteral("Latest Build");
    case 2:
        return QStringLiteral("Unofficial and Official Releases");
    default:
        return QStringLiteral("Official Releases");
    }
}

QString ServiceTypeWord(int type) {
    switch (NormalUpdateType(type)) {
    case 1:
        return QStringLiteral("build");
    case 2:
        return QStringLiteral("unofficial");
    default:
        return QStringLiteral("official");
    }
}
