#pragma once

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QList>
#include <QString>

#include <functional>

namespace CommandLine {

// One command: its name, its one line of help, its options and its work. A command lives in a
// unit of its own that defines its function below; the table (CommandTable.cpp) lists it.
struct Command {
    const char* name;
    const char* summary;
    QList<QCommandLineOption> options;
    // Reads the parsed options and does the work; returns the exit status (ExitStatus).
    std::function<int(const QCommandLineParser&)> run;
    // The one argument besides the options, as the help names it; empty for none.
    QString argument = QString();
    QString argumentHelp = QString();
};

Command requestCommand();
Command selfsignCommand();
Command pfxCommand();
Command pemCommand();
Command checkCommand();
Command installCommand();
Command acmeCommand();
Command renewCommand();
Command expiryCommand();

} // namespace CommandLine
