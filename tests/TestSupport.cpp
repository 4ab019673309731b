#include "TestSupport.h"

#include "uCertwrightCommon.h"
#include "uPasswordForm.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>

TempProgramFolder::TempProgramFolder(bool withTool) {
    if (withTool)
        QFile::link(QStringLiteral(OPENSSL_TOOL), path() + QStringLiteral("openssl"));
    setProgramFolderForTesting(path());
}

TempProgramFolder::~TempProgramFolder() {
    setProgramFolderForTesting(QString());
}

QString TempProgramFolder::path() const {
    return withTrailingSeparator(dir.path());
}

TempFolder::TempFolder() = default;

QString TempFolder::path() const {
    return withTrailingSeparator(dir.path());
}

ModalScript::ModalScript(QVector<Action> script) : actions(std::move(script)) {
    connect(&timer, &QTimer::timeout, this, &ModalScript::poll);
    timer.start(5);
}

ModalScript::~ModalScript() {
    timer.stop();
}

void ModalScript::poll() {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || modal == lastHandled || actions.isEmpty())
        return;
    lastHandled = modal;
    if (auto* box = qobject_cast<QMessageBox*>(modal))
        seen << box->text();
    else
        seen << modal->windowTitle();
    // The action runs from a queued call rather than from the timer itself, so that a modal
    // window it opens in turn is still seen by the timer.
    QMetaObject::invokeMethod(
        this, [action = actions.takeFirst(), target = QPointer<QWidget>(modal)] {
            if (target)
                action(target);
        },
        Qt::QueuedConnection);
}

ModalScript::Action pressButton(QMessageBox::StandardButton button) {
    return [button](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        if (!box) {
            qWarning("expected a message box, got %s", qPrintable(modal->windowTitle()));
            return;
        }
        if (QAbstractButton* b = box->button(button))
            b->click();
    };
}

ModalScript::Action enterPassPhrases(const QString& current, const QString& fresh,
                                     const QString& verify) {
    return [=](QWidget* modal) {
        auto* dialog = qobject_cast<TfrmPasswordDlg*>(modal);
        if (!dialog) {
            qWarning("expected the pass-phrase dialog, got %s", qPrintable(modal->windowTitle()));
            return;
        }
        if (dialog->edtCurrentPassword->isVisibleTo(dialog))
            dialog->edtCurrentPassword->setText(current);
        dialog->edtNewPassword->setText(fresh);
        dialog->edtVerifyNewPassword->setText(verify);
        dialog->btnOk->click();
    };
}

ModalScript::Action enterPassPhrases(const QString& current, const QString& fresh) {
    return enterPassPhrases(current, fresh, fresh);
}

ModalScript::Action rejectDialog() {
    return [](QWidget* modal) {
        if (auto* dialog = qobject_cast<QDialog*>(modal))
            dialog->reject();
    };
}

QString runOpenSSL(const QStringList& arguments, int* exitCode, bool mergeErrors) {
    QProcess process;
    if (mergeErrors)
        process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral(OPENSSL_TOOL), arguments);
    process.closeWriteChannel();
    process.waitForFinished(120000);
    if (exitCode)
        *exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return QString::fromUtf8(process.readAllStandardOutput());
}

QByteArray fileContent(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFileContent(const QString& path, const QByteArray& content) {
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(content);
}

QString pdfText(const QString& pdfPath) {
    QProcess process;
    process.start(QStringLiteral("pdftotext"),
                  {QStringLiteral("-layout"), pdfPath, QStringLiteral("-")});
    process.waitForFinished(60000);
    // Ligatures such as "fi" come back as one character; take them apart again.
    return QString::fromUtf8(process.readAllStandardOutput())
        .normalized(QString::NormalizationForm_KC);
}

int pdfPageCount(const QString& pdfPath) {
    QProcess process;
    process.start(QStringLiteral("pdfinfo"), {pdfPath});
    process.waitForFinished(60000);
    const auto match = QRegularExpression(QStringLiteral("Pages:\\s+(\\d+)"))
                           .match(QString::fromUtf8(process.readAllStandardOutput()));
    return match.hasMatch() ? match.captured(1).toInt() : -1;
}
