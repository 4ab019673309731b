#include "CommandTable.h"

#include <QStringList>

#include <cstring>

namespace CommandLine {

namespace {
const QString kUsageHead =
    QStringLiteral("Usage: certwright [-DEBUG]\n"
                   "       certwright <command> [options]\n"
                   "       certwright <command> --help\n"
                   "       certwright --help | --version\n"
                   "\n"
                   "Guides a web-server administrator through making keys, certificate requests,\n"
                   "self-signed certificates and certificate bundles; the system's openssl tool\n"
                   "does the cryptography.\n"
                   "\n"
                   "  -DEBUG     copy the output of the openssl runs to standard error\n"
                   "             (first argument only, any letter case); any other first\n"
                   "             argument must be a command\n"
                   "  --help     show this help and exit\n"
                   "  --version  show the version and exit\n"
                   "\n"
                   "Commands, which run one task without a window:\n");
constexpr int kNameWidth = 11;
constexpr int kLineWidth = 80;
} // namespace

const QList<Command>& commands() {
    // A new command is one unit with its function, and one row here, in the order of --help.
    static const QList<Command> all = {
        requestCommand(),  // CertificateCommands
        selfsignCommand(), // CertificateCommands
        pfxCommand(),      // BundleCommands
        pemCommand(),      // BundleCommands
        checkCommand(),    // CheckCommand
        installCommand(),  // InstallCommand
        acmeCommand(),     // AcmeCommand
        renewCommand(),    // RenewCommand
        expiryCommand(),   // ExpiryCommand
    };
    return all;
}

const Command* commandNamed(const char* name) {
    for (const Command& command : commands())
        if (std::strcmp(command.name, name) == 0)
            return &command;
    return nullptr;
}

QString programUsage() {
    QString usage = kUsageHead;
    const QString indent(kNameWidth + 2, QLatin1Char(' '));
    for (const Command& command : commands()) {
        // The summary is wrapped at word ends under its first line.
        QString line = QStringLiteral("  ") + QString::fromLatin1(command.name);
        line = line.leftJustified(kNameWidth + 2);
        bool lineStart = true;
        for (const QString& word : QString::fromLatin1(command.summary).split(QLatin1Char(' '))) {
            if (!lineStart && line.size() + 1 + word.size() >= kLineWidth) {
                usage += line + QLatin1Char('\n');
                line = indent;
                lineStart = true;
            }
            line += (lineStart ? QString() : QStringLiteral(" ")) + word;
            lineStart = false;
        }
        usage += line + QLatin1Char('\n');
    }
    return usage;
}

} // namespace CommandLine
