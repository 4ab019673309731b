#pragma once

#include "ServerFiles.h"
#include "uExportFolder.h"
#include "uToolContext.h"

#include <QString>
#include <QStringList>

// What one ACME issuance needs, as the pages and the options hold it, and its checks. The
// issuance takes only values that passed the check (CheckedAcmeValues), so it checks nothing
// again.
namespace Acme {

inline const QString kLetsEncryptDirectory =
    QStringLiteral("https://acme-v02.api.letsencrypt.org/directory");
inline const QString kLetsEncryptStagingDirectory =
    QStringLiteral("https://acme-staging-v02.api.letsencrypt.org/directory");

// The key types as the command line and the record spell them, in the order offered; the
// first is the default.
inline const QString kKeyEc256 = QStringLiteral("ec256");
inline const QString kKeyEc384 = QStringLiteral("ec384");
inline const QString kKeyRsa2048 = QStringLiteral("rsa2048");
inline const QString kKeyRsa4096 = QStringLiteral("rsa4096");
inline const QStringList kKeyTypes = {kKeyEc256, kKeyEc384, kKeyRsa2048, kKeyRsa4096};

constexpr int kDefaultHttpPort = 80;

// The DNS providers of lego that the program drives, as the command line and the record spell
// them.
inline const QString kDnsExec = QStringLiteral("exec");
inline const QString kDnsRfc2136 = QStringLiteral("rfc2136");
inline const QStringList kDnsProviders = {kDnsExec, kDnsRfc2136};
// The TSIG algorithms that lego's rfc2136 provider knows; the first is the default.
inline const QStringList kTsigAlgorithms = {
    QStringLiteral("hmac-sha256"), QStringLiteral("hmac-sha384"), QStringLiteral("hmac-sha512"),
    QStringLiteral("hmac-sha224"), QStringLiteral("hmac-sha1"),   QStringLiteral("hmac-md5")};
constexpr int kDefaultDnsWaitSeconds = 30;
constexpr int kDefaultDnsPort = 53;

// How the authority validates by a DNS record; an empty provider: by HTTP.
struct DnsValidation {
    QString provider;   // "" (none), "exec" or "rfc2136"
    QString script;     // exec: the script lego calls with present/cleanup, record name, value
    QString server;     // rfc2136: ADDRESS[:PORT] of the DNS server to update
    QString tsigKey;    // rfc2136: the TSIG key's name
    QString tsigSecret; // rfc2136: the secret itself (the caller read it from its source)
    QString tsigAlgorithm = QStringLiteral("hmac-sha256");
    QString resolver; // ADDRESS[:PORT] asked whether the record is in place; empty: the
                      // rfc2136 server, or (exec) wait waitSeconds instead of asking
    int waitSeconds = kDefaultDnsWaitSeconds;
};

// Everything one issuance needs, as the pages and the options hold it.
struct AcmeValues {
    QStringList names; // the first is the main one and names the files (<base>)
    QString email;
    QString keyType = kKeyEc256;
    QString server = kLetsEncryptDirectory; // the authority's directory address
    QString caBundle; // a CA file for the authority's HTTPS; empty: the system's
    // How the authority reaches this server: a web root that it already serves, or (empty)
    // a temporary web server of lego's own on the port. Not used when dns has a provider.
    QString webRoot;
    int httpPort = kDefaultHttpPort;
    QStringList outputs; // of ServerFiles::kServerKinds, each at most once
    QString outFolder;   // as typed; checked by the export-folder rules
    // Protects the .pfx and key.pem; kept beside the renewal record for unattended renewals.
    QString passPhrase;
    bool legacyPfx = false;    // the .pfx opens on Windows Server 2016 and older
    QStringList reloadCommand; // run after each new certificate, program first; empty: none
    // Run before and after the validation (IssuanceHooks), program first; empty: none.
    QStringList preHook;
    QStringList postHook;
    QString friendlyName; // of the .pfx; empty: the main name
    DnsValidation dns;
};

// Values that checkValues accepted: every typed path made absolute (as lego, which runs in its
// state folder, and the record need them) and the export folder as checked. Only the check
// makes them.
class CheckedAcmeValues {
  public:
    const AcmeValues& values() const { return resolved; }
    const CheckedFolder& folder() const { return checkedFolder; }

  private:
    friend CheckedAcmeValues checkValues(const AcmeValues& values, const ToolContext& context);
    CheckedAcmeValues(const AcmeValues& values, const CheckedFolder& folder);

    AcmeValues resolved;
    CheckedFolder checkedFolder;
};

// Refuses (PageError) names that the authority cannot validate (one the wizards would refuse,
// a wildcard unless byDns, one given twice) and an e-mail address that is none; the window
// checks its first page with it.
void checkNamesAndEmail(const QStringList& names, const QString& email, bool byDns = false);

// Refuses (PageError) values that cannot make a certificate, before anything runs: no name,
// a name the wizards would refuse or a wildcard without DNS validation, a key type, output or
// port that does not exist, a web root that is missing or that this program cannot write
// .well-known/acme-challenge/ in (probed as webRootProblem does), a missing CA file, a folder
// that the export-folder rules refuse, .pfx or key.pem without a pass phrase, and DNS values
// that lego cannot use (a script that is no executable file, a server or resolver address that
// does not parse, an rfc2136 update without key name or secret, an unknown algorithm).
CheckedAcmeValues checkValues(const AcmeValues& values, const ToolContext& context);

// The names of the files that the values make in their folder, in the order listed.
QStringList outputNames(const AcmeValues& values);

// The server files of the values, named after the main name.
ServerFiles::Choice serverFilesChoice(const AcmeValues& values);

// Whether this program can write `.well-known/acme-challenge/` in the web root: writes a probe
// there and removes it, together with any folder it made. Empty when it can; else the reason,
// for the user.
QString webRootProblem(const QString& webRoot);

// Whether the text is a DNS server's IP address as lego takes it: ADDRESS or ADDRESS:PORT (an
// IPv6 address in brackets when a port follows); returns it with the port (53 when none is
// given), or an empty string when it is none. A host name is none: looking it up would ask the
// system's resolvers.
QString dnsServerAddress(const QString& text);

} // namespace Acme
