#pragma once
// The three update types: 1 latest build, 2 unofficial and official
// releases, 3 official releases (also any other value).
#include <QString>

int NormalUpdateType(int type);
QString UpdateTypeName(int type);    // as the frame caption shows it
QString ServiceTypeWord(int type);   // as the update service asks for it
