#pragma once

#include "uToolContext.h"

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// What the tests of the core and of the windows share; it uses nothing with widgets.

// A temporary program folder holding an `openssl` link to the system's tool (unless told
// otherwise); ProgramFolder() answers with it while the object lives.
class TempProgramFolder {
  public:
    explicit TempProgramFolder(bool withTool = true);
    ~TempProgramFolder();
    QString path() const; // ends in '/'
    // The context of steps that run the tool from here, with the pass-phrase files here too
    // and relative paths taken from the current directory.
    ToolContext context() const;
    QString file(const QString& name) const { return path() + name; }

  private:
    QTemporaryDir dir;
};

// A temporary export folder; path() ends in '/'.
class TempFolder {
  public:
    TempFolder();
    QString path() const;
    QString file(const QString& name) const { return path() + name; }

  private:
    QTemporaryDir dir;
};

// Runs the system's openssl with the arguments and returns its standard output (stderr is
// appended when mergeErrors); exitCode receives the exit code.
QString runOpenSSL(const QStringList& arguments, int* exitCode = nullptr, bool mergeErrors = false);

// Starts the tool's TLS server (s_server) on 127.0.0.1 and a port the system picks, with the
// further arguments; returns the port once the server listens, 0 when it did not start.
int startTlsServer(QProcess& server, const QStringList& arguments);

// The attributes of a name that the tool printed with -nameopt sep_multiline, one a line
// ("C=US"), without the line that names the field.
QStringList multilineName(const QString& output);
// An RSA key of the given size at keyPath, encrypted with AES-256 under passPhrase unless it
// is empty; true when it was made. Small unless told otherwise: a large key takes the tool
// long to make and makes no difference to what the wizards do with it.
bool makeKey(const QString& keyPath, const QString& passPhrase, int bits = 1024);
// The days between a certificate's notBefore and notAfter; -1 when they cannot be read.
qint64 validityDays(const QString& certificate);

// Writes both pass-phrase files into the folder (which ends in '/').
void writePassPhraseFiles(const QString& folder, const QByteArray& current,
                          const QByteArray& fresh);
// True when both pass-phrase files are present in the folder and empty.
bool passPhraseFilesEmpty(const QString& folder);

// True when the tool left a file at the path and it is not empty.
bool outputIsNonEmpty(const QString& path);
// The whole content of a file (empty when it cannot be read).
QByteArray fileContent(const QString& path);
// Writes the bytes to the file, creating or replacing it.
void writeFileContent(const QString& path, const QByteArray& content);

// Splits a command line into words as the runner did before it took argument lists: blanks
// separate words, double quotes group and are removed. Tests write argument vectors this way.
QStringList splitCommandLine(const QString& commandLine);
