#pragma once

#include "instance/HandOver.h"
#include "usage/UsageReport.h"

#include <QString>
#include <QStringList>

// The argument text the program was started with: everything after the
// program's own name, the arguments joined by single blanks, so that
// `zarn-bandwidth -startup` gives exactly "-startup" and anything more or
// different gives another text.
QString argumentText(const QStringList &arguments);

// The arguments after the program's own name, from main()'s own argc/argv,
// read before Qt takes out the arguments it understands. An argument that
// is not UTF-8 keeps its bytes: argumentBytes() gives them back.
QStringList programArguments(int argc, const char *const *argv);
QByteArray argumentBytes(const QString &argument);

// What the command line asks for: a text (--help or -h, --version, the usage
// report) instead of the program, the program itself, or nothing but one
// line on standard error (Invalid: an unknown option, a stray word, --usage
// with more than an interface name, one format (--json, --bytes, --csv) and
// one table (--hours, --months, --top, --years), or --cap with anything but
// the name).
enum class CommandLineRequest { Run, Help, Version, Usage, Invalid };

struct CommandLine {
    CommandLineRequest request = CommandLineRequest::Run;
    bool showUsage = false;                 // Run: open the Usage window as well
    HandOver handOver = HandOver::ShowMain; // Run
    bool json = false;                      // Usage
    bool bytes = false;                     // Usage: whole bytes in the text
    bool csv = false;                       // Usage: one table as CSV
    bool cap = false;                       // Usage: the cap's state, told by the exit code
    UsageReport::Table table = UsageReport::Table::Report; // Usage
    QString interfaceName;                                 // Usage; empty: the selected adapter's
    QString error; // Invalid: the line to print, without its break
};

// Each argument is taken as given (an interface name may hold blanks), in
// any order. Qt's own options (-platform NAME, -style=NAME, -reverse ...)
// are accepted with their values and left to QApplication.
CommandLine parseCommandLine(const QStringList &arguments);

// The texts printed for those requests, each ending in a line break.
QString helpText();
QString versionText(); // "zarn-bandwidth 1.3.0"
