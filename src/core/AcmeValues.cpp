#include "AcmeValues.h"

#include "ChallengeFolder.h"

#include "uCertwrightCommon.h"
#include "uPassPhraseRules.h"
#include "uToolSteps.h"

#include <QFileInfo>
#include <QHostAddress>
#include <QRegularExpression>
#include <QUrl>

namespace Acme {

namespace {

const QString kNoNameMessage =
    QStringLiteral("Please enter at least one name for the certificate.");
const QString kWildcardMessage = QStringLiteral(
    "The authority checks a wildcard name such as \"%1\" only through DNS records. Please "
    "choose validation by a DNS record, or enter each name that the server uses instead.");
const QString kTwiceNameMessage =
    QStringLiteral("The name \"%1\" is given twice. Please enter each name once.");
const QString kEmailMessage = QStringLiteral(
    "\"%1\" is not an e-mail address. Please enter the address at which the authority can "
    "reach you, such as admin@example.com.");
const QString kKeyTypeMessage =
    QStringLiteral("\"%1\" is not a key type: use ec256, ec384, rsa2048 or rsa4096.");
const QString kServerMessage = QStringLiteral(
    "\"%1\" is not the address of an ACME directory. Please enter an https:// address.");
const QString kNoOutputMessage = QStringLiteral(
    "Please choose at least one kind of server files: nginx, apache, haproxy, iis or indy.");
const QString kOutputKindMessage = QStringLiteral(
    "\"%1\" is not a kind of server files: use nginx, apache, haproxy, iis or indy.");
const QString kPortMessage =
    QStringLiteral("%1 is not a port number. Please enter a number from 1 to 65535.");
const QString kWebRootMessage = QStringLiteral(
    "The web root \"%1\" is not a folder. Please choose the folder that the web server serves "
    "for these names.");
const QString kCaBundleMessage = QStringLiteral(
    "The CA file \"%1\" cannot be read. Please choose the file of the certificate that signs "
    "the authority's HTTPS certificate.");
const QString kNeedsPassPhraseMessage =
    QStringLiteral("The .pfx file and key.pem are protected by a pass phrase. Please enter one.");
const QString kWebRootMissing = QStringLiteral("\"%1\" is not a folder.");

const QString kDnsProviderMessage =
    QStringLiteral("\"%1\" is not a kind of DNS validation: use exec or rfc2136.");
const QString kDnsScriptMessage = QStringLiteral(
    "The DNS script \"%1\" is not a program that this computer can run. Please choose the "
    "executable file that sets and removes the DNS record.");
const QString kNoDnsScriptMessage =
    QStringLiteral("Please choose the script that sets and removes the DNS record.");
const QString kDnsServerMessage = QStringLiteral(
    "\"%1\" is not the address of a DNS server. Please enter its IP address, optionally "
    "followed by :PORT, such as 192.0.2.53:53 or [2001:db8::53]:53.");
const QString kNoDnsServerMessage =
    QStringLiteral("Please enter the address of the DNS server that takes the updates.");
const QString kNoTsigKeyMessage =
    QStringLiteral("Please enter the name of the TSIG key that may update the zone.");
const QString kNoTsigSecretMessage =
    QStringLiteral("Please give the secret of the TSIG key \"%1\".");
const QString kTsigAlgorithmMessage = QStringLiteral("\"%1\" is not a TSIG algorithm: use %2.");
const QString kDnsWaitMessage = QStringLiteral(
    "%1 seconds is no time to wait for the DNS record. Please enter from 1 to 3600 seconds.");

constexpr int kHighestPort = 65535;
constexpr int kLongestDnsWaitSeconds = 3600;

bool isPort(int port) {
    return port >= 1 && port <= kHighestPort;
}

// The values with every typed path made absolute.
AcmeValues resolvedValues(const AcmeValues& values, const ToolContext& context) {
    AcmeValues resolved = values;
    if (!resolved.webRoot.isEmpty())
        resolved.webRoot = ToolSteps::pathForTool(values.webRoot, context.currentFolder);
    if (!resolved.caBundle.isEmpty())
        resolved.caBundle = ToolSteps::pathForTool(values.caBundle, context.currentFolder);
    if (!resolved.dns.script.isEmpty())
        resolved.dns.script = ToolSteps::pathForTool(values.dns.script, context.currentFolder);
    return resolved;
}

void checkDnsServer(const QString& address) {
    if (dnsServerAddress(address).isEmpty())
        throw PageError(kDnsServerMessage.arg(address));
}

void checkDns(const DnsValidation& typed, const DnsValidation& resolved) {
    if (!kDnsProviders.contains(typed.provider))
        throw PageError(kDnsProviderMessage.arg(typed.provider));
    if (typed.provider == kDnsExec) {
        if (typed.script.isEmpty())
            throw PageError(kNoDnsScriptMessage);
        const QFileInfo script(resolved.script);
        if (!script.isFile() || !script.isExecutable())
            throw PageError(kDnsScriptMessage.arg(typed.script));
    } else {
        if (typed.server.isEmpty())
            throw PageError(kNoDnsServerMessage);
        checkDnsServer(typed.server);
        if (typed.tsigKey.isEmpty())
            throw PageError(kNoTsigKeyMessage);
        if (typed.tsigSecret.isEmpty())
            throw PageError(kNoTsigSecretMessage.arg(typed.tsigKey));
        if (!kTsigAlgorithms.contains(typed.tsigAlgorithm))
            throw PageError(kTsigAlgorithmMessage.arg(typed.tsigAlgorithm,
                                                      kTsigAlgorithms.join(QStringLiteral(", "))));
    }
    if (!typed.resolver.isEmpty())
        checkDnsServer(typed.resolver);
    if (typed.waitSeconds < 1 || typed.waitSeconds > kLongestDnsWaitSeconds)
        throw PageError(kDnsWaitMessage.arg(typed.waitSeconds));
}

} // namespace

CheckedAcmeValues::CheckedAcmeValues(const AcmeValues& values, const CheckedFolder& folder)
    : resolved(values), checkedFolder(folder) {
    resolved.outFolder = folder.path();
}

void checkNamesAndEmail(const QStringList& names, const QString& email, bool byDns) {
    if (names.isEmpty())
        throw PageError(kNoNameMessage);
    for (const QString& name : names) {
        ToolSteps::checkDomain(name);
        if (name.contains(QLatin1Char('*')) && !byDns)
            throw PageError(kWildcardMessage.arg(name));
        if (names.count(name) > 1)
            throw PageError(kTwiceNameMessage.arg(name));
    }
    static const QRegularExpression address(QStringLiteral("^[^@\\s]+@[^@\\s]+\\.[^@\\s]+$"));
    if (!address.match(email).hasMatch())
        throw PageError(kEmailMessage.arg(email));
}

CheckedAcmeValues checkValues(const AcmeValues& values, const ToolContext& context) {
    const bool byDns = !values.dns.provider.isEmpty();
    checkNamesAndEmail(values.names, values.email, byDns);
    if (!kKeyTypes.contains(values.keyType))
        throw PageError(kKeyTypeMessage.arg(values.keyType));
    const QUrl server(values.server);
    if (!server.isValid() || server.scheme() != QLatin1String("https") || server.host().isEmpty())
        throw PageError(kServerMessage.arg(values.server));
    if (values.outputs.isEmpty())
        throw PageError(kNoOutputMessage);
    for (const QString& kind : values.outputs)
        if (!ServerFiles::kServerKinds.contains(kind))
            throw PageError(kOutputKindMessage.arg(kind));
    const AcmeValues resolved = resolvedValues(values, context);
    if (byDns) {
        checkDns(values.dns, resolved.dns);
    } else {
        if (values.webRoot.isEmpty() && !isPort(values.httpPort))
            throw PageError(kPortMessage.arg(values.httpPort));
        if (!resolved.webRoot.isEmpty() && !QFileInfo(resolved.webRoot).isDir())
            throw PageError(kWebRootMessage.arg(values.webRoot));
        if (!resolved.webRoot.isEmpty())
            if (const QString problem = webRootProblem(resolved.webRoot); !problem.isEmpty())
                throw PageError(problem);
    }
    if (!resolved.caBundle.isEmpty() && !FileIsPresent(resolved.caBundle))
        throw PageError(kCaBundleMessage.arg(values.caBundle));
    if (ServerFiles::needsNewPassPhrase(serverFilesChoice(values))) {
        if (values.passPhrase.isEmpty())
            throw PageError(kNeedsPassPhraseMessage);
        PassPhraseRules::checkNewPassPhrase(values.passPhrase);
    }
    return CheckedAcmeValues(resolved,
                             requirePrivateExportFolder(values.outFolder, context.currentFolder));
}

QStringList outputNames(const AcmeValues& values) {
    return ServerFiles::outputNames(values.outputs, ToolSteps::baseNameOf(values.names.value(0)));
}

ServerFiles::Choice serverFilesChoice(const AcmeValues& values) {
    return {values.outputs, ToolSteps::baseNameOf(values.names.value(0)),
            values.friendlyName.isEmpty() ? values.names.value(0) : values.friendlyName,
            values.legacyPfx, false};
}

QString webRootProblem(const QString& webRoot) {
    if (!QFileInfo(webRoot).isDir())
        return kWebRootMissing.arg(webRoot);
    try {
        const ChallengeFolder probed(webRoot);
    } catch (const PageError& error) {
        return error.message();
    }
    return QString();
}

QString dnsServerAddress(const QString& text) {
    // ADDRESS, ADDRESS:PORT, [IPV6]:PORT or a bare IPv6 address. A host name is not taken: its
    // address would come from the system's resolvers.
    static const QRegularExpression form(
        QStringLiteral("^(?:\\[([0-9A-Fa-f:.]+)\\]|([0-9.]+))(?::(\\d{1,5}))?$"));
    QString host = text;
    QString port;
    if (const QRegularExpressionMatch match = form.match(text); match.hasMatch()) {
        host = match.captured(1).isEmpty() ? match.captured(2) : match.captured(1);
        port = match.captured(3);
    }
    const QHostAddress ip(host);
    const int number = port.isEmpty() ? kDefaultDnsPort : port.toInt();
    if (ip.isNull() || !isPort(number))
        return QString();
    const bool ipv6 = ip.protocol() == QAbstractSocket::IPv6Protocol;
    return (ipv6 ? QLatin1Char('[') + ip.toString() + QLatin1Char(']') : ip.toString()) +
           QLatin1Char(':') + QString::number(number);
}

} // namespace Acme
