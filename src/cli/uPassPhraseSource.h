#pragma once

#include <QString>

#include <stdexcept>

// A command line, or an input named on it, that a command cannot use: the command ends with
// exit status 2 before anything is asked or touched.
class UsageError : public std::runtime_error {
  public:
    explicit UsageError(const QString& message)
        : std::runtime_error(message.toStdString()), text(message) {}
    QString message() const { return text; }

  private:
    QString text;
};

namespace PassPhraseSource {

// Set when a signal asks the program to end: a pass phrase that is being read is not waited
// for any longer.
extern bool terminationArrived;

// The pass phrase that a SOURCE names, as openssl users write it: "file:PATH" (its first line;
// a regular file only), "env:VAR", "fd:N" or "stdin" (the first line). "pass:TEXT" is refused,
// since every user of the machine can read a command line. Throws UsageError naming the option
// when the source is refused or cannot be read.
QString read(const QString& option, const QString& source);

// Whether the source reads standard input, which gives one line only once.
bool readsStandardInput(const QString& source);

// Whether standard input is a terminal, where a command may ask.
bool canAsk();

// Shows the prompt on standard error and reads one line from the terminal without echo. A
// signal that ends the program while it waits ends the wait (SilentAbort), with the echo back.
QString ask(const QString& prompt);

// Refuses (UsageError) an input file that cannot be read or is not a regular file.
void requireReadableFile(const QString& option, const QString& path);

} // namespace PassPhraseSource
