#pragma once

#include "StepEngine.h"
#include "uOpenSSLCommands.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

// Preparing an existing key and its certificate for a server: a .pfx file for IIS, and key.pem
// and cert.pem for Indy, from a .pfx file or from a key file and its certificate.
namespace ToolSteps {

inline const QString kConversionFailedMessage =
    QStringLiteral("Error running process.  Make sure that your password is correct.");
inline const QString kKeyFileName = QStringLiteral("key.pem");
inline const QString kCertificateFileName = QStringLiteral("cert.pem");
inline const QString kBundleFileName = QStringLiteral("__tmp.p12");
inline const QString kAuthoritiesFileName = QStringLiteral("root.pem");
// The chain files together, for the tool, which reads one file of further certificates; it is
// written into a private scratch folder, never beside the user's files.
inline const QString kChainFileName = QStringLiteral("chain.pem");
inline const QString kUnreadableChainMessage =
    QStringLiteral("The certificate file \"%1\" cannot be read: %2");

// A key file and the file of its certificate, as the pages hold them.
struct KeyAndCertificateValues {
    QString friendlyName;
    QString keyFile;
    QString certificateFile; // written by the page for the step; removed when it is kept
    CheckedFolder exportFolder;
    // How the .pfx file is protected (IIS only).
    OpenSSLCommands::PfxProtection protection = OpenSSLCommands::PfxProtection::Current;
    // The authority certificates that go into the bundle after the certificate, in order; for
    // key.pem and cert.pem they also make root.pem, which a No to its question keeps as it is.
    QStringList chainFiles = {};
    // The name of the .pfx file in the export folder; empty: named after the key file.
    QString pfxName = {};
};

// A .pfx file exported from IIS, as the page holds it.
struct PfxExtractionValues {
    QString pfxFile;
    QString exportText; // the export folder as typed
    // Also root.pem, with the bundle's authority certificates, when it holds any; an existing
    // root.pem is asked about only then, and a No keeps it.
    bool withAuthorities = false;
};

// The .pfx file made from a key file: in the export folder, named after the key file.
QString pfxPath(const QString& keyFile, const QString& exportFolder);

// The public key of a key file that opens without a pass phrase, in PEM; empty when the tool
// cannot open it so (an encrypted key, or no key at all).
QByteArray plainKeyPublicPem(const QString& keyFile, const ToolContext& context);

// The plans below refuse what their step refuses, before anything is written. The two over a
// key and a certificate take the export folder as the page has checked it.
StepPlan createPfxPlan(const KeyAndCertificateValues& values, const ToolContext& context);
StepPlan extractFromPfxPlan(const PfxExtractionValues& values, const ToolContext& context);
StepPlan convertKeyAndCertPlan(const KeyAndCertificateValues& values, const ToolContext& context);

// The .pfx file for IIS.
MadeFiles createPfx(const KeyAndCertificateValues& values, StepUser& user,
                    const ToolContext& context);
// key.pem and cert.pem from a .pfx file.
MadeFiles extractFromPfx(const PfxExtractionValues& values, StepUser& user,
                         const ToolContext& context);
// key.pem and cert.pem by way of a temporary bundle ("__tmp.p12", removed at the end).
MadeFiles convertKeyAndCert(const KeyAndCertificateValues& values, StepUser& user,
                            const ToolContext& context);

} // namespace ToolSteps
