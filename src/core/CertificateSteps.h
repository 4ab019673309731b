#pragma once

#include "StepEngine.h"

#include <QString>
#include <QStringList>

// The first tasks: a key and a certificate request, or a key and a certificate that it signs
// itself, from the values that the pages hold.
namespace ToolSteps {

// The text values that one generation uses, as the pages hold them.
struct CertificateValues {
    QString term; // days of validity; empty in the request wizard, which has no term
    QString email;
    QString keySize; // RSA bits ("2048") or an elliptic curve (OpenSSLCommands::kCurveP256)
    QString countryCode;
    QString city;
    QString state;
    QString domain;
    QString legalName;
    QString exportFolder; // as typed
    // Names that the certificate also serves, after the domain; the domain names the files.
    QStringList moreDomains = {};
};

// What one of the twin generation steps makes and how.
struct CertificateStep {
    QString outputExtension; // of the second run's output, with its dot
    OutputKind outputKind;   // what the second run makes
    bool asksPassPhrase;     // the key is encrypted under a new pass phrase
    bool hasTerm;            // the values hold the term of a certificate
    bool offersRequestCopy;  // the second output is a request for Copy Request
    // The arguments of the key run and of the second run, for the export folder (as checked,
    // ending in a separator) and the base name of the output files.
    QStringList (*keyCommandLine)(const ToolContext& context, const QString& folder,
                                  const QString& base, const CertificateValues& values);
    QStringList (*outputCommandLine)(const ToolContext& context, const QString& folder,
                                     const QString& base, const CertificateValues& values);
};

// An encrypted key and a certificate request for it.
extern const CertificateStep kRequestStep;
// A plain key and a certificate that it signs itself.
extern const CertificateStep kSelfSignedStep;

inline const QString kGenerationFailedMessage = QStringLiteral(
    "Error running process.  Make sure that you have valid entries for your data fields.");
inline const QString kDomainPathMessage = QStringLiteral(
    "The domain name \"%1\" cannot name the output files: it must not contain \"/\" or "
    "\"\\\" and must not be \".\" or \"..\". Please enter the domain name only.");
inline const QString kDomainNameMessage = QStringLiteral(
    "The domain name \"%1\" is neither a host name nor an IP address. Please enter a name "
    "such as www.example.com or *.example.com, or an address such as 192.0.2.1.");
// The term of a certificate, in days.
constexpr int kShortestTerm = 1;
constexpr int kLongestTerm = 36500;

// Refuses (PageError) a domain that cannot name the output files or is neither a host name nor
// an IP address.
void checkDomain(const QString& domain);
// The base name of the output files of a domain: the domain with every "*" spelled out.
QString baseNameOf(const QString& domain);

// The page error for a term that is refused.
QString termMessage(const QString& term);

// "<base>.key" and "<base>.<output extension>" in the export folder, the base being the
// domain with every "*" spelled out.
StepPlan certificatePlan(const CertificateStep& step, const CertificateValues& values,
                         const ToolContext& context);
MadeFiles generateCertificate(const CertificateStep& step, const CertificateValues& values,
                              StepUser& user, const ToolContext& context);

} // namespace ToolSteps
