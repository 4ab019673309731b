#pragma once

// Drives the request and self-signed certificate wizards through their widgets, and reads back
// what the tool made.

#include "TestSupport.h"
#include "uCertificateWizard.h"
#include "uCountryTable.h"

#include <QComboBox>
#include <QDateTime>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QStackedWidget>
#include <QtTest>

// What a user types into the wizard's pages.
struct TypedSubject {
    // The key size radio button to click ("512" clicks rb512); empty keeps the default.
    QString keySize = "1024";
    QString email = "admin@shop.test";
    int countryIndex = CountryTable::kDefaultIndex;
    QString state = "New York";
    QString city = "Springfield";
    QString domain = "www.shop.test";
    QString legalName = "Acme Widgets";

    // The subject as the tool prints it with -nameopt utf8,sep_multiline, one attribute a line.
    QStringList expectedSubject() const {
        return {"C=" + CountryTable::code(countryIndex),
                "ST=" + state,
                "L=" + city,
                "O=" + legalName,
                "CN=" + domain,
                "emailAddress=" + email};
    }
};

inline void clickNext(TCertificateWizard& wizard) {
    QTest::mouseClick(wizard.btnNext, Qt::LeftButton);
}

inline void clickPrevious(TCertificateWizard& wizard) {
    QTest::mouseClick(wizard.btnPrevious, Qt::LeftButton);
}

// Walks from the start page to the organisation page, filling every field on the way; the folder is
// typed as given.
inline void fillPages(TCertificateWizard& wizard, const TypedSubject& subject,
                      const QString& folder) {
    QCOMPARE(wizard.currentPage(), int(TCertificateWizard::tsStart));
    clickNext(wizard);
    if (!subject.keySize.isEmpty()) {
        auto* keySize = wizard.findChild<QRadioButton*>("rb" + subject.keySize);
        QVERIFY(keySize);
        QTest::mouseClick(keySize, Qt::LeftButton);
        QVERIFY(keySize->isChecked());
    }
    wizard.edtEmail->setText(subject.email);
    clickNext(wizard);
    QCOMPARE(wizard.currentPage(), int(TCertificateWizard::tsLocaleInfo));
    wizard.cbCountry->setCurrentIndex(subject.countryIndex);
    wizard.edtState->setText(subject.state);
    wizard.edtCity->setText(subject.city);
    clickNext(wizard);
    QCOMPARE(wizard.currentPage(), int(TCertificateWizard::tsOrganizationInfo));
    wizard.edtDomainName->setText(subject.domain);
    wizard.edtLegalName->setText(subject.legalName);
    wizard.edtExportPath->setText(folder);
}

// The subject of a request ("req") or certificate ("x509") file, one attribute a line.
inline QStringList subjectOf(const QString& kind, const QString& path) {
    return multilineName(
        runOpenSSL({kind, "-in", path, "-noout", "-subject", "-nameopt", "utf8,sep_multiline"}));
}

// The size of the key in the file as the key size buttons name it ("2048" for an RSA key of
// 2048 bits, "P256" for a key on the curve P-256), opened with the pass phrase from a file
// (an unencrypted key needs none); empty when it does not open.
inline QString keySizeOf(const QString& key, const QString& passPhrase) {
    const TempFolder folder;
    QStringList arguments = {"pkey", "-in", key, "-noout", "-text"};
    if (!passPhrase.isEmpty()) {
        writeFileContent(folder.file("pass.txt"), passPhrase.toUtf8() + '\n');
        arguments << "-passin"
                  << "file:" + folder.file("pass.txt");
    }
    int exitCode = -1;
    const QString text = runOpenSSL(arguments, &exitCode);
    const auto curve = QRegularExpression("NIST CURVE: P-(\\d+)").match(text);
    const auto bits = QRegularExpression("Private-Key: \\((\\d+) bit").match(text);
    if (exitCode != 0)
        return QString();
    return curve.hasMatch() ? "P" + curve.captured(1) : bits.captured(1);
}

// True when the request ("req") or certificate ("x509") file carries the public half of the
// key, which opens with the pass phrase.
inline bool carriesPublicKeyOf(const QString& kind, const QString& output, const QString& key,
                               const QString& passPhrase) {
    const QString outputKey = runOpenSSL({kind, "-in", output, "-noout", "-pubkey"});
    return outputKey.contains("PUBLIC KEY") &&
           outputKey ==
               runOpenSSL({"pkey", "-in", key, "-passin", "pass:" + passPhrase, "-pubout"});
}

// The bytes of every file in a folder, by name.
inline QMap<QString, QByteArray> folderContent(const QString& folder) {
    QMap<QString, QByteArray> content;
    for (const QString& name : QDir(folder).entryList(QDir::Files | QDir::Hidden))
        content[name] = fileContent(folder + name);
    return content;
}

// Puts into the program folder, in place of the tool, a script that announces each run on its
// standard output ("tool run: " and its first argument) and then lets the real tool do the
// work. A script loses the sub-command, which the tool takes from its program name, so the
// script finds it again: only the req runs begin with -new.
inline void installAnnouncingTool(const TempProgramFolder& program) {
    const QString script = program.file("openssl");
    writeFileContent(script, QByteArray("#!/bin/sh\n"
                                        "echo \"tool run: $1\"\n"
                                        "if [ \"$1\" = -new ]; then command=req; "
                                        "else command=genrsa; fi\n"
                                        "exec " OPENSSL_TOOL " $command \"$@\"\n"));
    QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}
