#include "Command.h"
#include "CommandSupport.h"

#include "ServerFiles.h"
#include "uCertificateCheck.h"
#include "uExportFolder.h"
#include "uOpenSSLCommands.h"
#include "uTerminalUser.h"
#include "uToolSteps.h"

#include <QFileInfo>
#include <optional>

namespace CommandLine {

namespace {

const QString kPemInputMessage =
    QStringLiteral("Give either --pfx FILE, or --key FILE and --cert FILE.");

QList<QCommandLineOption> keyAndCertificateOptions() {
    return {valueOption("key", "the private key file", "FILE"),
            valueOption("cert", "the certificate file of the key", "FILE"),
            valueOption("chain", "an authority certificate file; repeat for more, in any order",
                        "FILE"),
            valueOption("passin", "the key's pass phrase (omit for a key without one)", "SOURCE"),
            valueOption("passout", "the new pass phrase", "SOURCE"),
            flagOption("force", "replace existing files")};
}

// The key and its certificate with the chain sorted, completed and proven (held by `proven`),
// and the pass phrases read, for a step into the export folder.
ToolSteps::KeyAndCertificateValues
keyAndCertificate(const QCommandLineParser& parser, const QString& exportFolder,
                  const ToolContext& context, std::optional<ServerFiles::ProvenChain>& proven,
                  std::optional<TerminalUser>& user) {
    CertificateCheck::CheckInput input = keyAndCertificateInput(parser);
    const CheckedFolder folder = requirePrivateExportFolder(exportFolder, context.currentFolder);
    refuseBothFromStdin(parser);
    input.passPhrase = keyPassPhrase(parser, input.keyFile, context);
    user.emplace(input.passPhrase, passPhraseOption(parser, "passout"),
                 parser.isSet(QStringLiteral("force")));
    proven.emplace(input, context);
    ToolSteps::KeyAndCertificateValues values{
        given(parser, QStringLiteral("name")) ? parser.value(QStringLiteral("name")) : QString(),
        input.keyFile, proven->serverFile(), folder};
    if (const QString authorities = proven->authoritiesFile(); !authorities.isEmpty())
        values.chainFiles = {authorities};
    return values;
}

int runPfx(const QCommandLineParser& parser) {
    const ToolContext context = commandContext();
    const QString key = required(parser, "key");
    const QString out = parser.isSet(QStringLiteral("out")) ? parser.value(QStringLiteral("out"))
                                                            : ToolSteps::pfxPath(key, kHere);
    std::optional<ServerFiles::ProvenChain> proven;
    std::optional<TerminalUser> user;
    ToolSteps::KeyAndCertificateValues values =
        keyAndCertificate(parser, QFileInfo(out).path(), context, proven, user);
    values.pfxName = QFileInfo(out).fileName();
    if (parser.isSet(QStringLiteral("legacy")))
        values.protection = OpenSSLCommands::PfxProtection::OlderWindows;
    return runPlan(ToolSteps::createPfxPlan(values, context), *user, parser, context);
}

int runPem(const QCommandLineParser& parser) {
    const ToolContext context = commandContext();
    const bool fromPfx = parser.isSet(QStringLiteral("pfx"));
    const bool fromKey =
        parser.isSet(QStringLiteral("key")) || parser.isSet(QStringLiteral("cert"));
    if (fromPfx == fromKey || (fromPfx && parser.isSet(QStringLiteral("chain"))))
        throw UsageError(kPemInputMessage);
    const QString out =
        parser.isSet(QStringLiteral("out")) ? parser.value(QStringLiteral("out")) : kHere;
    if (fromPfx) {
        requireInput(parser, "pfx");
        TerminalUser user = terminalUser(parser);
        const ToolSteps::PfxExtractionValues values{parser.value(QStringLiteral("pfx")), out, true};
        return runPlan(ToolSteps::extractFromPfxPlan(values, context), user, parser, context);
    }
    std::optional<ServerFiles::ProvenChain> proven;
    std::optional<TerminalUser> user;
    const ToolSteps::KeyAndCertificateValues values =
        keyAndCertificate(parser, out, context, proven, user);
    return runPlan(ToolSteps::convertKeyAndCertPlan(values, context), *user, parser, context);
}

} // namespace

Command pfxCommand() {
    return {"pfx", "pack a key, its certificate and its chain into a .pfx file",
            keyAndCertificateOptions()
                << valueOption("out", "the .pfx file (default: named after the key, here)", "FILE")
                << valueOption("name", "the friendly name in the bundle", "FRIENDLY")
                << flagOption("legacy", "protect the bundle as Windows Server 2016 can import it"),
            runPfx};
}

Command pemCommand() {
    return {
        "pem", "make key.pem, cert.pem and root.pem (the authority certificates)",
        keyAndCertificateOptions()
            << valueOption("pfx", "the .pfx file (instead of --key and --cert)", "FILE")
            << valueOption("out", "the folder of the files (default: the current folder)", "DIR"),
        runPem};
}

} // namespace CommandLine
