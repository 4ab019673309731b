#pragma once

// Keys, certificates and bundles made with the real tool for the tests of the two wizards
// that prepare an existing key and certificate for a server.

#include "TestSupport.h"
#include "uKeyAndCertificateWizard.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSet>
#include <QSslCertificate>
#include <QString>
#include <QStringList>

// What both wizards show when a run fails, and the pass-phrase dialog's title.
const QString kShownRunFailure =
    QStringLiteral("Error running process.  Make sure that your password is correct.");
const QString kPassPhraseTitle = QStringLiteral("Password...");

// Types the key page's entries as a user does and presses Next.
inline void fillKeyPage(TKeyAndCertificateWizard& wizard, const QString& keyFile,
                        const QString& exportPath, const QString& commonName) {
    QTest::keyClicks(wizard.edtKeyFile, keyFile);
    QTest::keyClicks(wizard.edtExportPath, exportPath);
    QTest::keyClicks(wizard.edtCommonName, commonName);
    wizard.btnNext->click();
}

// A certificate authority of its own in a temporary folder, which signs the test keys; its own
// key has the given size.
class SigningAuthority {
  public:
    explicit SigningAuthority(int bits = 1024) {
        runOpenSSL({"req", "-x509", "-newkey", QStringLiteral("rsa:%1").arg(bits), "-nodes",
                    "-keyout", folder.file("ca.key"), "-out", folder.file("ca.crt"), "-subj",
                    "/CN=Certwright Test Authority", "-days", "2"});
    }

    bool isReady() const { return QFileInfo(certificate()).size() > 0; }

    // A certificate for the key with the given common name, signed by this authority.
    bool sign(const QString& keyPath, const QString& passPhrase, const QString& commonName,
              const QString& certificatePath) const {
        const QString request = folder.file(QFileInfo(keyPath).fileName() + ".csr");
        runOpenSSL({"req", "-new", "-key", keyPath, "-passin", "pass:" + passPhrase, "-subj",
                    "/CN=" + commonName, "-out", request});
        return signRequest(request, certificatePath);
    }

    // A certificate for a request, signed by this authority, that carries the extensions
    // the request asks for.
    bool signRequest(const QString& request, const QString& certificatePath) const {
        runOpenSSL({"x509", "-req", "-in", request, "-CA", certificate(), "-CAkey",
                    folder.file("ca.key"), "-CAcreateserial", "-days", "2", "-copy_extensions",
                    "copy", "-out", certificatePath});
        return QFileInfo(certificatePath).size() > 0;
    }

    // The authority's own certificate, which clients trust.
    QString certificate() const { return folder.file("ca.crt"); }

  private:
    TempFolder folder;
};

// A root authority, an intermediate one that the root signs, and server certificates that the
// intermediate signs; the root may bear the name of another one.
class ThreeTierAuthority {
  public:
    explicit ThreeTierAuthority(const QString& rootSubject = "/CN=Certwright Test Root") {
        const QStringList authority{"req",    "-x509",    "-newkey",
                                    "ec",     "-pkeyopt", "ec_paramgen_curve:P-256",
                                    "-nodes", "-days",    "2"};
        runOpenSSL(authority + QStringList{"-keyout", folder.file("root.key"), "-out", root(),
                                           "-subj", rootSubject});
        runOpenSSL(authority + QStringList{"-CA", root(), "-CAkey", folder.file("root.key"),
                                           "-keyout", folder.file("intermediate.key"), "-out",
                                           intermediate(), "-subj",
                                           "/CN=Certwright Test Intermediate"});
    }

    bool isReady() const { return QFileInfo(intermediate()).size() > 0; }

    // A server certificate for the key and the host name, signed by the intermediate.
    bool sign(const QString& keyPath, const QString& passPhrase, const QString& host,
              const QString& certificatePath) const {
        runOpenSSL({"req",     "-x509",
                    "-CA",     intermediate(),
                    "-CAkey",  folder.file("intermediate.key"),
                    "-key",    keyPath,
                    "-passin", "pass:" + passPhrase,
                    "-subj",   "/CN=" + host,
                    "-addext", "subjectAltName=DNS:" + host,
                    "-addext", "basicConstraints=critical,CA:false",
                    "-days",   "2",
                    "-out",    certificatePath});
        return QFileInfo(certificatePath).size() > 0;
    }

    QString root() const { return folder.file("root.crt"); }
    QString intermediate() const { return folder.file("intermediate.crt"); }

  private:
    TempFolder folder;
};

// The subjects of the certificates in a PEM text (or a PKCS#12 file's listing), in order.
inline QStringList subjectsIn(const QString& pemText) {
    QStringList subjects;
    for (const QSslCertificate& certificate : QSslCertificate::fromData(pemText.toUtf8()))
        subjects << certificate.subjectInfo(QSslCertificate::CommonName).join(", ");
    return subjects;
}

// The RSA modulus of a key file opened with the pass phrase; empty when it does not open.
inline QString keyModulus(const QString& path, const QString& passPhrase) {
    int exitCode = 0;
    const QString modulus = runOpenSSL(
        {"rsa", "-in", path, "-passin", "pass:" + passPhrase, "-noout", "-modulus"}, &exitCode);
    return exitCode == 0 ? modulus.trimmed() : QString();
}

// The RSA modulus of the first certificate in a PEM file; empty when there is none.
inline QString certificateModulus(const QString& path) {
    int exitCode = 0;
    const QString modulus = runOpenSSL({"x509", "-in", path, "-noout", "-modulus"}, &exitCode);
    return exitCode == 0 ? modulus.trimmed() : QString();
}

// The subject of the first certificate in a PEM file.
inline QString certificateSubject(const QString& path) {
    return runOpenSSL({"x509", "-in", path, "-noout", "-subject"}).trimmed();
}

// What a PKCS#12 file holds, opened with the pass phrase: key and certificates as PEM text
// with their bag attributes; empty when the pass phrase does not open it.
inline QString bundleContent(const QString& path, const QString& passPhrase) {
    int exitCode = 0;
    const QString text = runOpenSSL(
        {"pkcs12", "-in", path, "-info", "-nodes", "-passin", "pass:" + passPhrase}, &exitCode);
    return exitCode == 0 ? text : QString();
}

// The names of the files in a folder.
inline QSet<QString> filesIn(const QString& folder) {
    const QStringList names = QDir(folder).entryList(QDir::Files | QDir::Hidden);
    return QSet<QString>(names.begin(), names.end());
}

// What a box of the wizard shows for the content of a PEM file.
inline QString pemText(const QString& path) {
    return QString::fromUtf8(fileContent(path)).replace("\r\n", "\n");
}

// The text without any white space, so that lines broken by the box or on paper compare
// with the stored lines.
inline QString withoutBlanks(QString text) {
    return text.remove(QRegularExpression(QStringLiteral("\\s")));
}

// True when every non-empty stored line appears in the printed text, in order, however the
// box and the paper broke it.
inline bool printedInOrder(const QString& pdf, const QStringList& stored) {
    const QString printed = withoutBlanks(pdfText(pdf));
    qsizetype at = 0;
    for (const QString& line : stored) {
        const QString expected = withoutBlanks(line);
        const qsizetype found = printed.indexOf(expected, at);
        if (found < 0) {
            qWarning("missing or out of order: %s", qPrintable(line));
            return false;
        }
        at = found + expected.size();
    }
    return true;
}

// Puts into the program folder, in place of the tool, a script that announces each run on its
// standard output ("tool run: " and its first argument) and then lets the real tool's pkcs12
// command do the work; a script loses the sub-command, which the tool takes from its program
// name, and every run of these wizards is a pkcs12 run.
inline void installAnnouncingPkcs12Tool(const TempProgramFolder& program) {
    const QString script = program.file("openssl");
    writeFileContent(script, QByteArray("#!/bin/sh\n"
                                        "echo \"tool run: $1\"\n"
                                        "exec " OPENSSL_TOOL " pkcs12 \"$@\"\n"));
    QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}
