#pragma once

#include "uCertificateChain.h"
#include "uCertificateCheck.h"
#include "uExportFolder.h"
#include "uFreshFile.h"
#include "uToolContext.h"
#include "uToolSteps.h"

#include <QString>
#include <QStringList>

// The files that a server loads, made from a key, its certificate and the chain: nginx and
// Apache read a key and the full chain, HAProxy both in one file, IIS a .pfx, Indy/IntraWeb
// key.pem, cert.pem and root.pem. A certificate from an ACME authority and one that the user's
// own authority sent are made into them by the same plan, as one step: every file or none.
namespace ServerFiles {

inline const QString kForNginx = QStringLiteral("nginx");     // <base>.key, <base>.fullchain.pem
inline const QString kForApache = QStringLiteral("apache");   // the same files as nginx
inline const QString kForHaproxy = QStringLiteral("haproxy"); // <base>.pem: the chain, then the key
inline const QString kForIis = QStringLiteral("iis");         // <base>.pfx with the chain
inline const QString kForIndy = QStringLiteral("indy");       // key.pem, cert.pem, root.pem
inline const QStringList kServerKinds = {kForNginx, kForApache, kForHaproxy, kForIis, kForIndy};

inline const QString kKeyExtension = QStringLiteral(".key");
inline const QString kFullChainExtension = QStringLiteral(".fullchain.pem");
inline const QString kCombinedExtension = QStringLiteral(".pem");
inline const QString kPfxExtension = QStringLiteral(".pfx");

// Which files to make and how they are protected.
struct Choice {
    QStringList servers;    // of kServerKinds, each at most once
    QString base;           // names the files: <base>.key, <base>.pfx, ...
    QString friendlyName;   // of the .pfx
    bool legacyPfx = false; // the .pfx opens on Windows Server 2016 and older
    // <base>.key is encrypted (AES-256) under the new pass phrase instead of left plain.
    bool encryptKey = false;
};

// The files that the outputs are made from.
struct Sources {
    QString key;          // opens with the current pass phrase, or has none
    QString certificates; // PEM: the server certificate, then its chain in order
    QString authorities;  // PEM: the chain that goes into the .pfx and root.pem; empty: none
};

// Whether the files need a new pass phrase: the .pfx, key.pem and an encrypted <base>.key do.
bool needsNewPassPhrase(const Choice& choice);

// The names of the files that the servers need, in the order listed.
QStringList outputNames(const QStringList& servers, const QString& base);

// Every file of the choice, made from the sources into the checked folder as one step. The
// runs read the key with the current pass phrase and protect the .pfx, key.pem and an encrypted
// key with the new one; the runs of key.pem come last, as they leave the new pass phrase in
// place of the current one.
ToolSteps::StepPlan plan(const Choice& choice, const CheckedFolder& folder, const Sources& sources,
                         const ToolContext& context);

// Hands the step pass phrases that are already known instead of asking for them, and lets it
// replace the outputs, which the user agreed to before; notices go on to the user.
class KnownPassPhrases : public ToolSteps::StepUser {
  public:
    KnownPassPhrases(ToolSteps::StepUser& user, const QString& current, const QString& fresh)
        : inner(user), current(current), fresh(fresh) {}
    PassPhrases askPassPhrases(PassPhraseUse) override { return {current, fresh}; }
    bool mayReplace(const QString&, bool) override { return true; }
    void tell(const QString& notice) override { inner.tell(notice); }

  private:
    ToolSteps::StepUser& inner;
    QString current;
    QString fresh;
};

// ---- A certificate from the user's authority

// A key's certificate and its chain, sorted server first, each followed by its issuer,
// completed from "CA Issuers" where an authority certificate is missing, and verified by
// signature up to a root that the system or the CA file trusts, or that the files hold. Kept in
// a private scratch folder as long as the object lives.
class ProvenChain {
  public:
    // Throws PageError when the key is not the certificate's (kKeyMismatchMessage), when the
    // chain does not hold up to a trusted root (with the check's problems), or when the check
    // cannot read the files.
    ProvenChain(const CertificateCheck::CheckInput& input, const ToolContext& context);
    ProvenChain(const ProvenChain&) = delete;
    ProvenChain& operator=(const ProvenChain&) = delete;

    CertificateCheck::CheckReport report; // the check of the files as given
    CertificateChain chain;               // as completed
    // The server certificate alone.
    QString serverFile() const { return scratch.file(kServerName); }
    // The server certificate, then its authorities up to the root, without a root.
    QString certificatesFile() const { return scratch.file(kCertificatesName); }
    // The authorities, with the root when the files hold it; empty when there is none.
    QString authoritiesFile() const;
    // The name that names the files: the certificate's first name, "*" spelled out.
    QString baseName() const;

  private:
    static inline const QString kServerName = QStringLiteral("server.pem");
    static inline const QString kCertificatesName = QStringLiteral("fullchain.pem");
    static inline const QString kAuthoritiesName = QStringLiteral("authorities.pem");
    static inline const QString kTrustedName = QStringLiteral("trusted.pem");
    ScratchFolder scratch;
};

inline const QString kKeyMismatchMessage =
    QStringLiteral("The key %1 is not the key of the certificate %2.");

// Everything that an installation needs, as the options and the pages hold it.
struct InstallValues {
    QString keyFile;
    QString currentPassPhrase; // of the key; empty for a key without one
    QString certificateFile;   // PEM (blocks in any order), DER or PKCS#7
    QStringList chainFiles;
    QString caFile; // further trusted roots; empty: the system's alone
    QStringList servers;
    QString outFolder;     // as typed; checked by the export-folder rules
    QString base;          // empty: the certificate's first name
    QString newPassPhrase; // of the .pfx, key.pem and an encrypted key
    bool encryptKey = false;
    bool legacyPfx = false;
    QString friendlyName;      // empty: the base name
    QStringList reloadCommand; // resolved (ReloadCommand::resolve); empty: none
};

struct InstallResult {
    ToolSteps::MadeFiles made;
    CertificateChain chain;
    // What the user must know to start the servers: the directive that reads an encrypted key.
    QStringList notes;
    QString reloadProblem; // why the reload command failed; empty when it ran well or is none
};

// Refuses (PageError) no server, one that is not in kServerKinds, and HAProxy with an encrypted
// key.
void checkServerChoice(const QStringList& servers, bool encryptKey);

// Refuses (PageError) values that cannot make files, before anything is read: no server, one
// that is not in kServerKinds, HAProxy with an encrypted key, a base name that is no file
// name, a missing or weak new pass phrase where one is needed.
void checkInstallValues(const InstallValues& values);

// Proves the chain, asks about outputs that exist (the first No ends it quietly), makes every
// output as one step and runs the reload command. Nothing is written unless the chain is
// proven; on failure the earlier files are as they were.
InstallResult install(const InstallValues& values, ToolSteps::StepUser& user,
                      const ToolContext& context);

} // namespace ServerFiles
