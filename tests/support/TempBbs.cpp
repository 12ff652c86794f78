#include "tests/support/TempBbs.h"
#include <gtest/gtest.h>

TempBbs::TempBbs(const TestBbsOptions& options) {
    QString error;
    layout_ = CreateTestBbs(dir_.path(), options, &error);
    if (!error.isEmpty()) ADD_FAILURE() << "test BBS: " << error.toStdString();
}
