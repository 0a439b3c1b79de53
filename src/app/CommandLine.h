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

// What the command line asks for. Only an argument text of exactly
// "--help" or "--version", or one that starts with the word "--usage", asks
// for a text instead of the program: any other text, "--help" among further
// arguments included, starts the program as before (and only exactly
// "-startup" keeps its window hidden).
enum class CommandLineRequest { Run, Help, Version, Usage };
CommandLineRequest commandLineRequest(const QString &argumentText);

// The usage report's request: "--usage [INTERFACE] [--json]", the two
// after "--usage" in either order. valid is false for anything else
// ("--usage a b", an unknown option).
struct UsageRequest {
    bool valid = false;
    bool json = false;
    QString interfaceName; // empty: the selected adapter's
};
UsageRequest usageRequest(const QString &argumentText);

// The texts printed for those requests, each ending in a line break.
QString helpText();
QString versionText(); // "zarn-bandwidth 1.2.0"
