#include "ExpiryCommand.h"

#include "ExpiryCalendar.h"
#include "ExpiryWatch.h"
#include "uCertificateCheck.h"
#include "uCertwrightCommon.h"
#include "uPassPhraseFolder.h"
#include "uPassPhraseSource.h"
#include "uRenewal.h"
#include "uTerminalUser.h"
#include "uToolSteps.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>

#include <algorithm>
#include <cstdio>

namespace ExpiryCommand {

namespace {

constexpr int kDone = 0;
constexpr int kFailed = 1;
constexpr int kMsPerSecond = 1000;
constexpr int kLongestTimeoutSeconds = 600;
constexpr int kMostParallel = 64;

const QString kAddOption = QStringLiteral("add");
const QString kRemoveOption = QStringLiteral("remove");
const QString kJsonOption = QStringLiteral("json");
const QString kIcsOption = QStringLiteral("ics");
const QString kForceOption = QStringLiteral("force");
const QString kTimeoutOption = QStringLiteral("timeout");
const QString kParallelOption = QStringLiteral("parallel");

const QString kAddedLine = QStringLiteral("Watching %1 (in %2).\n");
const QString kRemovedLine = QStringLiteral("No longer watching %1.\n");
const QString kNothingLine = QStringLiteral(
    "No certificate is known: none is recorded for renewal in \"%1\", and none is watched in "
    "\"%2\". Add a file or a server with \"certwright expiry --add FILE|HOST[:PORT]\".\n");
const QString kCalendarLine = QStringLiteral("The calendar was written to %1.\n");
const QString kNumberMessage = QStringLiteral("--%1: \"%2\" is not a number from %3 to %4.");
const QString kOnlyWithMessage = QStringLiteral("--%1 goes with %2.");
const QString kChangeWithListMessage =
    QStringLiteral("--%1 changes the list: it goes with neither --json nor --ics.");

void print(FILE* stream, const QString& text) {
    std::fputs(text.toLocal8Bit().constData(), stream);
}

int numberOption(const QCommandLineParser& parser, const QString& name, int lowest, int highest,
                 int fallback) {
    if (!parser.isSet(name))
        return fallback;
    bool number = false;
    const int value = parser.value(name).toInt(&number);
    if (!number || value < lowest || value > highest)
        throw UsageError(kNumberMessage.arg(name, parser.value(name)).arg(lowest).arg(highest));
    return value;
}

QString currentFolder() {
    return withTrailingSeparator(QDir::currentPath());
}

// Adds and removes what the options name, in that order.
int changeList(const QCommandLineParser& parser) {
    for (const QString& option :
         {kJsonOption, kIcsOption, kForceOption, kTimeoutOption, kParallelOption})
        if (parser.isSet(option))
            throw UsageError(
                kChangeWithListMessage.arg(parser.isSet(kAddOption) ? kAddOption : kRemoveOption));
    // What is neither a server nor a readable file is refused as a usage error.
    for (const QString& typed : parser.values(kAddOption)) {
        try {
            const QString entry = ExpiryWatch::watchedForm(typed, currentFolder());
            if (QFileInfo(entry).isAbsolute())
                CertificateCheck::readRegularFile(entry, ToolContext{});
        } catch (const PageError& error) {
            throw UsageError(error.message());
        }
    }
    for (const QString& typed : parser.values(kAddOption))
        print(stdout, kAddedLine.arg(ExpiryWatch::add(typed, currentFolder()),
                                     ExpiryWatch::watchFilePath()));
    for (const QString& typed : parser.values(kRemoveOption))
        print(stdout, kRemovedLine.arg(ExpiryWatch::remove(typed, currentFolder())));
    return kDone;
}

} // namespace

QList<QCommandLineOption> options() {
    return {
        QCommandLineOption(kAddOption,
                           QStringLiteral("watch this certificate file or server too; repeat for "
                                          "more"),
                           QStringLiteral("FILE|HOST[:PORT]")),
        QCommandLineOption(kRemoveOption, QStringLiteral("stop watching this file or server"),
                           QStringLiteral("FILE|HOST[:PORT]")),
        QCommandLineOption(kJsonOption, QStringLiteral("print one JSON object a line, one for "
                                                       "each certificate")),
        QCommandLineOption(kIcsOption,
                           QStringLiteral("write a calendar (iCalendar) with the day each "
                                          "certificate is due for renewal and the day it expires"),
                           QStringLiteral("FILE")),
        QCommandLineOption(kForceOption, QStringLiteral("with --ics: replace an existing file")),
        QCommandLineOption(kTimeoutOption,
                           QStringLiteral("seconds that the connection and handshake with a "
                                          "server may take (default: 10)"),
                           QStringLiteral("SECONDS")),
        QCommandLineOption(kParallelOption,
                           QStringLiteral("read this many files and servers at a time (default: "
                                          "8)"),
                           QStringLiteral("N")),
    };
}

int run(const QCommandLineParser& parser) {
    if (parser.isSet(kAddOption) || parser.isSet(kRemoveOption))
        return changeList(parser);
    if (parser.isSet(kForceOption) && !parser.isSet(kIcsOption))
        throw UsageError(kOnlyWithMessage.arg(kForceOption, QStringLiteral("--ics")));
    const int timeoutSeconds = numberOption(parser, kTimeoutOption, 1, kLongestTimeoutSeconds,
                                            CertificateCheck::kServerTimeoutMs / kMsPerSecond);
    const int parallel =
        numberOption(parser, kParallelOption, 1, kMostParallel, ExpiryWatch::kDefaultParallel);
    const ToolContext context{ProgramFolder(), PassPhraseFolder(), false, currentFolder()};
    // An existing calendar ends the command before anything is read, as for other outputs.
    const QString calendar =
        parser.isSet(kIcsOption)
            ? ToolSteps::pathForTool(parser.value(kIcsOption), context.currentFolder)
            : QString();
    const bool force = parser.isSet(kForceOption);
    if (!calendar.isEmpty() && !force) {
        const QFileInfo existing(calendar);
        if (existing.exists() || existing.isSymLink())
            throw PageError(existingOutputStatement(parser.value(kIcsOption)));
    }
    QVector<ExpiryWatch::Entry> entries =
        ExpiryWatch::entries(context, timeoutSeconds * kMsPerSecond, parallel);
    std::stable_sort(entries.begin(), entries.end(), ExpiryWatch::comesFirst);
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const bool json = parser.isSet(kJsonOption);
    if (entries.isEmpty() && !json)
        print(stdout, kNothingLine.arg(Renewal::recordFolderPath(), ExpiryWatch::watchFilePath()));
    bool attention = false;
    for (qsizetype at = 0; at < entries.size(); ++at) {
        const ExpiryWatch::Entry& entry = entries[at];
        attention = attention || entry.needsAttention();
        if (json)
            print(stdout, QString::fromUtf8(
                              QJsonDocument(entry.toJson(now)).toJson(QJsonDocument::Compact)) +
                              QLatin1Char('\n'));
        else
            print(stdout, (at == 0 ? QString() : QStringLiteral("\n")) + entry.toText(now));
    }
    if (!calendar.isEmpty()) {
        ExpiryCalendar::writeCalendar(entries, calendar, force);
        print(stderr, kCalendarLine.arg(parser.value(kIcsOption)));
    }
    return attention ? kFailed : kDone;
}

} // namespace ExpiryCommand
