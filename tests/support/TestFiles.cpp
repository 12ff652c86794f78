#include "tests/support/TestFiles.h"

QString TestFile(const QString& relative) { return QStringLiteral(OSPRINE_TESTS_DIR "/") + relative; }
