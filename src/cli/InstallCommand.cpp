#include "Command.h"
#include "CommandSupport.h"

#include "ServerFiles.h"
#include "uCertificateCheck.h"
#include "uCertwrightCommon.h"
#include "uPassPhraseSource.h"
#include "uTerminalUser.h"

namespace CommandLine {

namespace {

const QString kEncryptHaproxyMessage = QStringLiteral(
    "--encrypt-key cannot go with --for haproxy: HAProxy cannot read an encrypted key.");

QList<QCommandLineOption> installOptions() {
    return {
        valueOption("key", "the private key file", "FILE"),
        valueOption("passin", "the key's pass phrase (omit for a key without one)", "SOURCE"),
        valueOption("cert", "the authority's answer: PEM (blocks in any order), DER or PKCS#7",
                    "FILE"),
        valueOption("chain", "a further authority certificate file; repeat for more", "FILE"),
        valueOption("for",
                    "nginx, apache, haproxy, iis or indy: the files to make; repeat "
                    "for more",
                    "SERVER"),
        valueOption("out", "the folder of the files (default: the current folder)", "DIR"),
        valueOption("name",
                    "the base name of the files (default: the certificate's first "
                    "name)",
                    "BASE"),
        valueOption("passout", "the pass phrase of the .pfx file, key.pem and an encrypted key",
                    "SOURCE"),
        flagOption("encrypt-key",
                   "encrypt the key for nginx and Apache with AES-256 under --passout"),
        flagOption("legacy", "protect the .pfx file as Windows Server 2016 can import it"),
        valueOption("friendly-name", "the friendly name in the .pfx file (default: BASE)", "TEXT"),
        valueOption("ca-file", "further trusted root certificates", "FILE"),
        valueOption("reload",
                    "a command to run after the files are made (quoted as for a shell, run "
                    "without one)",
                    "COMMAND"),
        flagOption("force", "replace existing files")};
}

int runInstall(const QCommandLineParser& parser) {
    ServerFiles::InstallValues values;
    const CertificateCheck::CheckInput input = keyAndCertificateInput(parser);
    values.keyFile = input.keyFile;
    values.certificateFile = input.certificateFile;
    values.chainFiles = input.chainFiles;
    if (given(parser, QStringLiteral("ca-file"))) {
        requireInput(parser, "ca-file");
        values.caFile = parser.value(QStringLiteral("ca-file"));
    }
    values.servers = serversOption(parser);
    values.encryptKey = parser.isSet(QStringLiteral("encrypt-key"));
    if (values.encryptKey && values.servers.contains(ServerFiles::kForHaproxy))
        throw UsageError(kEncryptHaproxyMessage);
    values.outFolder =
        parser.isSet(QStringLiteral("out")) ? parser.value(QStringLiteral("out")) : kHere;
    values.base = parser.value(QStringLiteral("name"));
    values.friendlyName = parser.value(QStringLiteral("friendly-name"));
    values.legacyPfx = parser.isSet(QStringLiteral("legacy"));
    values.reloadCommand = reloadOption(parser);
    refuseBothFromStdin(parser);
    const ToolContext context = commandContext();
    values.currentPassPhrase = keyPassPhrase(parser, values.keyFile, context);
    if (ServerFiles::needsNewPassPhrase(
            {values.servers, values.base, QString(), values.legacyPfx, values.encryptKey}))
        values.newPassPhrase = newPassPhrase(parser);
    ServerFiles::checkInstallValues(values);
    TerminalUser user(std::nullopt, std::nullopt, parser.isSet(QStringLiteral("force")));
    const ServerFiles::InstallResult result = ServerFiles::install(values, user, context);
    for (const QString& path : result.made.paths)
        if (FileIsPresent(path))
            print(stdout, path + QLatin1Char('\n'));
    for (const QString& note : result.notes)
        print(stderr, note + QLatin1Char('\n'));
    if (!result.reloadProblem.isEmpty()) {
        print(stderr, result.reloadProblem + QLatin1Char('\n'));
        return kFailed;
    }
    return kDone;
}

} // namespace

Command installCommand() {
    return {"install",
            "make the server files from a key and the certificate that an authority sent",
            installOptions(), runInstall};
}

} // namespace CommandLine
