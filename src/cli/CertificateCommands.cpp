#include "Command.h"
#include "CommandSupport.h"

#include "uCountryTable.h"
#include "uOpenSSLCommands.h"
#include "uTerminalUser.h"
#include "uToolSteps.h"

namespace CommandLine {

namespace {

const QString kKeyTypeMessage = QStringLiteral(
    "--key-type: \"%1\" is not a key type: use rsa2048, rsa3072, rsa4096, ec256 or ec384.");
const QString kCountryMessage =
    QStringLiteral("--country: \"%1\" is not a country code of the list, such as US, GB or DE.");
const QString kDefaultKeyType = QStringLiteral("rsa2048");
const QString kDefaultDays = QStringLiteral("365");
const QString kDefaultCountry = QStringLiteral("US");

struct KeyType {
    const char* name;
    QString keySize;
};
const KeyType kKeyTypes[] = {{"rsa2048", QStringLiteral("2048")},
                             {"rsa3072", QStringLiteral("3072")},
                             {"rsa4096", QStringLiteral("4096")},
                             {"ec256", OpenSSLCommands::kCurveP256},
                             {"ec384", OpenSSLCommands::kCurveP384}};

QList<QCommandLineOption> subjectOptions() {
    return {valueOption("domain",
                        "a name of the certificate; repeat for more (the first is the "
                        "common name and names the files)",
                        "NAME"),
            valueOption("email", "the e-mail address of the subject", "ADDRESS"),
            valueOption("country", "the two-letter country code (default US)", "CC"),
            valueOption("state", "the state or province", "STATE"),
            valueOption("city", "the city or locality", "CITY"),
            valueOption("org", "the legal name of the organisation", "NAME"),
            valueOption("key-type", "rsa2048 (default), rsa3072, rsa4096, ec256 or ec384", "TYPE"),
            valueOption("out", "the folder of the files (default: the current folder)", "DIR"),
            flagOption("force", "replace existing files")};
}

QString keySizeOf(const QString& keyType) {
    for (const KeyType& type : kKeyTypes)
        if (keyType == QLatin1String(type.name))
            return type.keySize;
    throw UsageError(kKeyTypeMessage.arg(keyType));
}

QString countryCodeOf(const QString& code) {
    for (int index = 0; index < CountryTable::kEntryCount; ++index)
        if (CountryTable::code(index) == code)
            return code;
    throw UsageError(kCountryMessage.arg(code));
}

int runCertificate(const ToolSteps::CertificateStep& step, const QCommandLineParser& parser) {
    QStringList domains = parser.values(QStringLiteral("domain"));
    if (domains.isEmpty())
        throw UsageError(kMissingOptionMessage.arg(QStringLiteral("domain")));
    ToolSteps::CertificateValues values;
    if (step.hasTerm)
        values.term = parser.isSet(QStringLiteral("days")) ? parser.value(QStringLiteral("days"))
                                                           : kDefaultDays;
    values.email = parser.value(QStringLiteral("email"));
    values.keySize = keySizeOf(parser.isSet(QStringLiteral("key-type"))
                                   ? parser.value(QStringLiteral("key-type"))
                                   : kDefaultKeyType);
    values.countryCode = countryCodeOf(parser.isSet(QStringLiteral("country"))
                                           ? parser.value(QStringLiteral("country"))
                                           : kDefaultCountry);
    values.city = parser.value(QStringLiteral("city"));
    values.state = parser.value(QStringLiteral("state"));
    values.domain = domains.takeFirst();
    values.moreDomains = domains;
    values.legalName = parser.value(QStringLiteral("org"));
    values.exportFolder =
        parser.isSet(QStringLiteral("out")) ? parser.value(QStringLiteral("out")) : kHere;
    TerminalUser user = step.asksPassPhrase ? terminalUser(parser)
                                            : TerminalUser(std::nullopt, std::nullopt,
                                                           parser.isSet(QStringLiteral("force")));
    const ToolContext context = commandContext();
    return runPlan(ToolSteps::certificatePlan(step, values, context), user, parser, context);
}

} // namespace

Command requestCommand() {
    return {"request", "make an encrypted key <base>.key and a certificate request <base>.csr",
            subjectOptions() << valueOption("passout", "the new pass phrase of the key", "SOURCE"),
            [](const QCommandLineParser& parser) {
                return runCertificate(ToolSteps::kRequestStep, parser);
            }};
}

Command selfsignCommand() {
    return {"selfsign", "make a key <base>.key and a self-signed certificate <base>.cer",
            subjectOptions() << valueOption("days", "the term in days, 1-36500 (default 365)", "N"),
            [](const QCommandLineParser& parser) {
                return runCertificate(ToolSteps::kSelfSignedStep, parser);
            }};
}

} // namespace CommandLine
