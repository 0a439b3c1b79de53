#pragma once

#include <QString>
#include <QStringList>

// The argument text the program was started with: everything after the
// program's own name, the arguments joined by single blanks, so that
// `zarn-bandwidth -startup` gives exactly "-startup" and anything more or
// different gives another text.
QString argumentText(const QStringList &arguments);

// The same from main()'s own argc/argv, read before Qt takes out the
// arguments it understands.
QString argumentText(int argc, const char *const *argv);
