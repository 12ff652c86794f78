#pragma once
// A test BBS installation in a fresh temporary directory, removed afterwards.
#include <QTemporaryDir>
#include "tools/testbbs/TestBbs.h"

class TempBbs {
public:
    explicit TempBbs(const TestBbsOptions& options = {});
    QString Dir() const { return dir_.path(); }
    QString Path(const QString& name) const { return dir_.path() + "/" + name; }
    const TestBbsLayout& Layout() const { return layout_; }

private:
    QTemporaryDir dir_;
    TestBbsLayout layout_;
};
