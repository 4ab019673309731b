#include "TestCoreSupport.h"

#include "uCertwrightCommon.h"
#include "uNoSettingsFile.h"
#include "uPassPhraseFiles.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QProcess>
#include <QRegularExpression>
#include <QVector>

// The tests, like the program, leave no settings file behind.
Q_CONSTRUCTOR_FUNCTION(preventSettingsFiles)

TempProgramFolder::TempProgramFolder(bool withTool) {
    if (withTool)
        QFile::link(QStringLiteral(OPENSSL_TOOL), path() + QStringLiteral("openssl"));
    setProgramFolderForTesting(path());
}

TempProgramFolder::~TempProgramFolder() {
    setProgramFolderForTesting(QString());
}

ToolContext TempProgramFolder::context() const {
    return {path(), path(), false, withTrailingSeparator(QDir::currentPath())};
}

QString TempProgramFolder::path() const {
    return withTrailingSeparator(dir.path());
}

TempFolder::TempFolder() = default;

QString TempFolder::path() const {
    return withTrailingSeparator(dir.path());
}

QString runOpenSSL(const QStringList& arguments, int* exitCode, bool mergeErrors) {
    QProcess process;
    if (mergeErrors)
        process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral(OPENSSL_TOOL), arguments);
    process.closeWriteChannel();
    process.waitForFinished(120000);
    if (exitCode)
        *exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return QString::fromUtf8(process.readAllStandardOutput());
}

int startTlsServer(QProcess& server, const QStringList& arguments) {
    server.start(OPENSSL_TOOL, QStringList{"s_server", "-accept", "127.0.0.1:0"} + arguments);
    static const QRegularExpression accepting("ACCEPT 127\\.0\\.0\\.1:(\\d+)");
    constexpr int kStartMilliseconds = 15000;
    QString said;
    while (!accepting.match(said).hasMatch() && server.waitForReadyRead(kStartMilliseconds))
        said += QString::fromLatin1(server.readAllStandardOutput());
    return accepting.match(said).captured(1).toInt();
}

QStringList multilineName(const QString& output) {
    QStringList lines;
    for (const QString& line : output.split('\n'))
        if (line.startsWith(QStringLiteral("    ")))
            lines << line.mid(4);
    return lines;
}

bool makeKey(const QString& keyPath, const QString& passPhrase, int bits) {
    QStringList arguments{QStringLiteral("genrsa"), QStringLiteral("-out"), keyPath};
    if (!passPhrase.isEmpty())
        arguments << QStringLiteral("-aes256") << QStringLiteral("-passout")
                  << QStringLiteral("pass:") + passPhrase;
    arguments << QString::number(bits);
    int exitCode = -1;
    runOpenSSL(arguments, &exitCode);
    return exitCode == 0 && QFileInfo(keyPath).size() > 0;
}

qint64 validityDays(const QString& certificate) {
    const QString output = runOpenSSL({QStringLiteral("x509"), QStringLiteral("-in"), certificate,
                                       QStringLiteral("-noout"), QStringLiteral("-startdate"),
                                       QStringLiteral("-enddate")});
    QVector<QDateTime> dates;
    for (const QString& line : output.split('\n', Qt::SkipEmptyParts))
        dates << QLocale::c().toDateTime(line.section('=', 1).simplified(),
                                         QStringLiteral("MMM d HH:mm:ss yyyy 'GMT'"));
    if (dates.size() != 2 || !dates[0].isValid() || !dates[1].isValid())
        return -1;
    return dates[0].secsTo(dates[1]) / 86400;
}

void writePassPhraseFiles(const QString& folder, const QByteArray& current,
                          const QByteArray& fresh) {
    writeFileContent(folder + kCurrentPassPhraseFile, current);
    writeFileContent(folder + kNewPassPhraseFile, fresh);
}

bool passPhraseFilesEmpty(const QString& folder) {
    for (const QString& name : {kCurrentPassPhraseFile, kNewPassPhraseFile})
        if (!FileIsPresent(folder + name) || QueryFileSize(folder + name) != 0)
            return false;
    return true;
}

bool outputIsNonEmpty(const QString& path) {
    return FileIsPresent(path) && QueryFileSize(path) != 0;
}

QByteArray fileContent(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFileContent(const QString& path, const QByteArray& content) {
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(content);
}

QStringList splitCommandLine(const QString& commandLine) {
    QStringList words;
    QString word;
    bool inWord = false;
    bool quoted = false;
    for (const QChar c : commandLine) {
        if (c == QLatin1Char('"')) {
            quoted = !quoted;
            inWord = true;
        } else if (!quoted && (c == QLatin1Char(' ') || c == QLatin1Char('\t'))) {
            if (inWord)
                words << word;
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord)
        words << word;
    return words;
}
