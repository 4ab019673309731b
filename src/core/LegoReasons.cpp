#include "LegoReasons.h"

#include "PortHolder.h"
#include "uCertwrightCommon.h"

#include <QRegularExpression>
#include <QStringList>
#include <QUrl>

#include <optional>

namespace Acme {

namespace {

const QString kUnreachableExplanation =
    QStringLiteral("The authority could not reach %1…: %2. Does %3 point at this server, and "
                   "is port %4 open?");
const QString kWrongAnswerExplanation =
    QStringLiteral("The authority reached %1… but did not find the expected answer there: %2. "
                   "Does %3 point at this server, and does its web server serve the chosen web "
                   "root at /.well-known/acme-challenge/?");
const QString kDnsExplanation =
    QStringLiteral("The authority could not find %1 in the DNS: %2. Please give %1 a DNS "
                   "record that points at this server.");
const QString kRejectedNameExplanation =
    QStringLiteral("The authority does not issue certificates for %1: %2. Please check the "
                   "name.");
const QString kCaaExplanation =
    QStringLiteral("The DNS of %1 does not allow this authority to issue for it (a CAA "
                   "record): %2.");
const QString kRateLimitExplanation =
    QStringLiteral("The authority refuses for now because too many certificates were "
                   "requested: %1. Please try again later; for trying, use the staging "
                   "service.");
const QString kRefusedExplanation =
    QStringLiteral("The authority refused the certificate for %1: %2.");
const QString kPortTakenExplanation =
    QStringLiteral("%2 already uses port %1, so the temporary web server could not start. "
                   "Choose the web root that it serves instead (--webroot), or stop it for the "
                   "validation with a command before it (--pre-hook) and start it again with a "
                   "command after it (--post-hook).");
const QString kProgramHolder = QStringLiteral("The program %1");
const QString kUnknownHolder = QStringLiteral("Another program");
const QString kPortDeniedExplanation =
    QStringLiteral("This program may not open port %1: ports below 1024 need administrator "
                   "rights. Run it as an administrator, or choose a web root instead.");
const QString kWebRootWriteExplanation =
    QStringLiteral("The answer for the authority could not be written into the web root: %1. "
                   "Please choose a web root that this program may write.");
const QString kUntrustedExplanation =
    QStringLiteral("The authority's HTTPS certificate at %1 is not trusted: %2. Please give "
                   "the CA file that signs it.");
const QString kNoDirectoryExplanation =
    QStringLiteral("The authority at %1 could not be reached: %2. Please check the address "
                   "and this computer's network connection.");
const QString kTsigExplanation =
    QStringLiteral("The DNS server refused to update the record for %1: %2. Please check the "
                   "TSIG key's name, secret and algorithm, and that the key may update the "
                   "zone.");
const QString kDnsUpdateExplanation =
    QStringLiteral("The DNS record for %1 could not be set: %2. Please check the DNS server's "
                   "address and that it takes updates for this zone.");
const QString kDnsScriptExplanation =
    QStringLiteral("The DNS script failed to set the record for %1: %2. Please check the "
                   "script; it is called with present or cleanup, the record's name and its "
                   "value.");
const QString kRecordNotSeenExplanation =
    QStringLiteral("The DNS record for %1 did not appear at the DNS server asked: %2. Please "
                   "check that the record is set in the zone that this server answers for.");
const QString kRecordNotFoundExplanation =
    QStringLiteral("The authority did not find the expected DNS record _acme-challenge.%1: %2. "
                   "Please check that the record is set in the zone that the public DNS "
                   "answers for %1.");
const QString kOtherExplanation = QStringLiteral("lego said: %1");

const QString kChallengePath = QStringLiteral(".well-known/acme-challenge/");

QString challengeAddress(const QString& name) {
    return QStringLiteral("http://") + name + QLatin1Char('/') + kChallengePath;
}

struct AuthorityProblem {
    QString name;
    QString type; // the ACME error type after "urn:ietf:params:acme:error:"
    QString detail;
};

std::optional<AuthorityProblem> authorityProblem(const QString& output) {
    static const QRegularExpression problem(
        QStringLiteral("^\\[([^\\]]+)\\][^\\n]*urn:ietf:params:acme:error:(\\w+) :: ([^\\n]*)"),
        QRegularExpression::MultilineOption);
    const QRegularExpressionMatch match = problem.match(output);
    if (!match.hasMatch())
        return std::nullopt;
    return AuthorityProblem{match.captured(1), match.captured(2), match.captured(3).trimmed()};
}

// The last reason in a chain of Go's messages: "dial tcp ...: connect: connection refused".
QString lastReason(const QString& detail) {
    const qsizetype colon = detail.lastIndexOf(QLatin1String(": "));
    QString reason = colon < 0 ? detail : detail.mid(colon + 2);
    reason = reason.trimmed();
    while (reason.endsWith(QLatin1Char('.')) || reason.endsWith(QLatin1Char('"')))
        reason.chop(1);
    return reason;
}

// The challenge address as the authority used it, without the token, and its port.
QString challengeUrlIn(const QString& detail, const QString& name, int* port) {
    static const QRegularExpression url(
        QStringLiteral("(https?://([^/\\s\"]+)/\\.well-known/acme-challenge/)"));
    const QRegularExpressionMatch match = url.match(detail);
    *port = kDefaultHttpPort;
    if (!match.hasMatch())
        return challengeAddress(name);
    const QUrl address(match.captured(1));
    *port = address.port(kDefaultHttpPort);
    return match.captured(1);
}

// The challenge detail without the address, where the reason follows it.
QString afterAddress(const QString& detail) {
    const qsizetype at = detail.indexOf(QLatin1String("acme-challenge/"));
    if (at < 0)
        return detail;
    return detail.mid(at);
}

QString explainAuthorityProblem(const AuthorityProblem& problem) {
    int port = kDefaultHttpPort;
    const QString address = challengeUrlIn(problem.detail, problem.name, &port);
    const QString reason = lastReason(afterAddress(problem.detail));
    if (problem.type == QLatin1String("connection"))
        return kUnreachableExplanation.arg(address, reason, problem.name, QString::number(port));
    if (problem.detail.contains(QLatin1String("TXT record")))
        return kRecordNotFoundExplanation.arg(
            problem.name.startsWith(QLatin1String("*.")) ? problem.name.mid(2) : problem.name,
            lastReason(problem.detail));
    if (problem.type == QLatin1String("unauthorized") ||
        problem.type == QLatin1String("incorrectResponse"))
        return kWrongAnswerExplanation.arg(address, reason, problem.name);
    if (problem.type == QLatin1String("dns"))
        return kDnsExplanation.arg(problem.name, lastReason(problem.detail));
    if (problem.type == QLatin1String("rejectedIdentifier") ||
        problem.type == QLatin1String("malformed"))
        return kRejectedNameExplanation.arg(problem.name, problem.detail);
    if (problem.type == QLatin1String("caa"))
        return kCaaExplanation.arg(problem.name, problem.detail);
    if (problem.type == QLatin1String("rateLimited"))
        return kRateLimitExplanation.arg(problem.detail);
    return kRefusedExplanation.arg(problem.name, problem.detail);
}

// The last line of lego's output that says something went wrong.
QString lastComplaint(const QString& output) {
    const QStringList lines = output.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (auto line = lines.rbegin(); line != lines.rend(); ++line)
        if (!line->trimmed().isEmpty() && !line->contains(QLatin1String("[INFO]")))
            return line->trimmed();
    return lines.isEmpty() ? QString() : lines.last().trimmed();
}

// A failure of lego's DNS providers: "[name] [name] acme: error presenting token: ...", the
// provider's complaint after it (rfc2136's begins with its name; the script's is its end).
std::optional<QString> dnsProviderProblem(const QString& output) {
    static const QRegularExpression presenting(
        QStringLiteral("\\[([^\\]\\s]+)\\][^\\n]*error presenting token: ([^\\n]*)"));
    const QRegularExpressionMatch match = presenting.match(output);
    if (!match.hasMatch())
        return std::nullopt;
    const QString name = match.captured(1);
    const QString detail = match.captured(2).trimmed();
    if (detail.startsWith(QLatin1String("rfc2136:"))) {
        if (detail.contains(QLatin1String("bad authentication")) ||
            detail.contains(QLatin1String("tsig"), Qt::CaseInsensitive) ||
            detail.contains(QLatin1String("NOTAUTH")) || detail.contains(QLatin1String("REFUSED")))
            return kTsigExplanation.arg(name, lastReason(detail));
        return kDnsUpdateExplanation.arg(name, lastReason(detail));
    }
    return kDnsScriptExplanation.arg(name, lastReason(detail));
}

// What holds the port, for the start of a sentence.
QString portHolder(int port) {
    const QString holder = PortHolder::describe(port);
    return holder.isEmpty() ? kUnknownHolder : kProgramHolder.arg(holder);
}

} // namespace

QString plainReason(const QString& said, const AcmeValues& values) {
    // What the authority sent on through lego reaches the terminal and the window.
    const QString output = printableText(said, true);
    if (const auto problem = authorityProblem(output))
        return explainAuthorityProblem(*problem);
    if (!values.dns.provider.isEmpty())
        if (const auto problem = dnsProviderProblem(output))
            return *problem;
    static const QRegularExpression propagation(
        QStringLiteral("\\[([^\\]\\s]+)\\][^\\n]*propagation: ([^\\n]*)"));
    if (const QRegularExpressionMatch match = propagation.match(output); match.hasMatch())
        return kRecordNotSeenExplanation.arg(match.captured(1), lastReason(match.captured(2)));
    if (output.contains(QLatin1String("could not start HTTP server"))) {
        const QString port = QString::number(values.httpPort);
        if (output.contains(QLatin1String("address already in use")))
            return kPortTakenExplanation.arg(port, portHolder(values.httpPort));
        if (output.contains(QLatin1String("permission denied")))
            return kPortDeniedExplanation.arg(port);
    }
    static const QRegularExpression directory(
        QStringLiteral("get directory at '([^']+)': ([^\\n]*)"));
    if (const QRegularExpressionMatch match = directory.match(output); match.hasMatch()) {
        const QString detail = match.captured(2);
        if (detail.contains(QLatin1String("certificate")))
            return kUntrustedExplanation.arg(match.captured(1), lastReason(detail));
        return kNoDirectoryExplanation.arg(match.captured(1), lastReason(detail));
    }
    if (output.contains(QLatin1String("could not write file")) ||
        output.contains(QLatin1String("could not create required directories in webroot")))
        return kWebRootWriteExplanation.arg(lastReason(lastComplaint(output)));
    return kOtherExplanation.arg(lastComplaint(output));
}

} // namespace Acme
