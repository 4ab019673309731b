#include "TestSupport.h"

#include "uCertwrightCommon.h"
#include "uNoSettingsFile.h"
#include "uPasswordForm.h"
#include "uWizardFrame.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDateTime>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QLocale>
#include <QPrintDialog>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QToolButton>
#include <QtTest>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

ModalScript::ModalScript(QVector<Action> script) : actions(std::move(script)) {
    connect(&timer, &QTimer::timeout, this, &ModalScript::poll);
    timer.start(5);
}

ModalScript::~ModalScript() {
    timer.stop();
}

namespace {

// Closes a modal window without answering it, so that the step that opened it returns.
void dismiss(QWidget* modal) {
    if (auto* dialog = qobject_cast<QDialog*>(modal))
        dialog->reject();
    else
        modal->close();
}

} // namespace

void ModalScript::poll() {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal)
        return;
    // Once a check has failed, no window is answered any more: each one is closed at once, so
    // that the test ends instead of waiting for a window that nobody answers.
    if (QTest::currentTestFailed()) {
        dismiss(modal);
        return;
    }
    if (modal == lastHandled || actions.isEmpty())
        return;
    lastHandled = modal;
    if (auto* box = qobject_cast<QMessageBox*>(modal))
        seen << box->text();
    else
        seen << modal->windowTitle();
    // The action runs from a queued call rather than from the timer itself, so that a modal
    // window it opens in turn is still seen by the timer.
    QMetaObject::invokeMethod(
        this,
        [this, action = actions.takeFirst(), target = QPointer<QWidget>(modal)] {
            // The window closed before its turn (a dialog that was already on its way out when
            // the timer saw it): the action waits for the next window instead of being lost.
            if (!target) {
                actions.prepend(action);
                lastHandled = nullptr;
                return;
            }
            action(target);
            // A failed check returns from the action early, perhaps before it answered.
            if (target && target->isVisible() && QTest::currentTestFailed())
                dismiss(target);
        },
        Qt::QueuedConnection);
}

ModalScript::Action pressButton(QMessageBox::StandardButton button) {
    return onWindow<QMessageBox>([button](QMessageBox* box) {
        if (QAbstractButton* b = box->button(button))
            b->click();
    });
}

ModalScript::Action noteTextsAndPressOk(MessageBoxTexts* texts) {
    return onWindow<QMessageBox>([texts](QMessageBox* box) {
        *texts = {box->informativeText(), box->detailedText()};
        if (QAbstractButton* ok = box->button(QMessageBox::Ok))
            ok->click();
    });
}

ModalScript::Action enterPassPhrases(const QString& current, const QString& fresh,
                                     const QString& verify) {
    return onWindow<TfrmPasswordDlg>([=](TfrmPasswordDlg* dialog) {
        if (dialog->edtCurrentPassword->isVisibleTo(dialog))
            dialog->edtCurrentPassword->setText(current);
        dialog->edtNewPassword->setText(fresh);
        dialog->edtVerifyNewPassword->setText(verify);
        dialog->btnOk->click();
    });
}

ModalScript::Action enterPassPhrases(const QString& current, const QString& fresh) {
    return enterPassPhrases(current, fresh, fresh);
}

ModalScript::Action rejectDialog() {
    return dismiss;
}

void typeIntoFileDialog(QFileDialog* dialog, const QString& path) {
    if (auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
        name->setText(path);
    QPushButton* confirm = fileDialogConfirmButton(dialog);
    QVERIFY2(confirm && confirm->isEnabled(),
             qPrintable("the dialog's confirm button cannot be pressed for " + path));
    QTest::mouseClick(confirm, Qt::LeftButton);
}

QPushButton* fileDialogConfirmButton(QFileDialog* dialog) {
    auto* buttons = dialog->findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
    return buttons ? buttons->button(dialog->acceptMode() == QFileDialog::AcceptOpen
                                         ? QDialogButtonBox::Open
                                         : QDialogButtonBox::Save)
                   : nullptr;
}

namespace {

QString startFolder(const QFileDialog* dialog) {
    return withTrailingSeparator(dialog->directory().absolutePath());
}

} // namespace

ModalScript::Action chooseFolder(const QString& folder, QString* start) {
    return onWindow<QFileDialog>([=](QFileDialog* dialog) {
        if (start)
            *start = startFolder(dialog);
        typeIntoFileDialog(dialog, folder);
    });
}

ModalScript::Action cancelFolderDialog(QString* start) {
    return onWindow<QFileDialog>([=](QFileDialog* dialog) {
        *start = startFolder(dialog);
        dialog->reject();
    });
}

QString testPath(const char* variable) {
    const QString path = qEnvironmentVariable(variable);
    if (path.isEmpty())
        qFatal("%s is not set: run the tests through ctest (./test.sh), which sets it", variable);
    return path;
}

QStringList tabOrder(QWidget* first, const QStringList& names) {
    QStringList visited;
    QWidget* widget = first;
    for (int step = 0; step < 1000 && visited.size() < names.size(); ++step) {
        if (names.contains(widget->objectName()) && !visited.contains(widget->objectName()))
            visited << widget->objectName();
        widget = widget->nextInFocusChain();
    }
    return visited;
}

bool processIsAlive(qint64 pid) {
    const QByteArray stat = fileContent(QStringLiteral("/proc/%1/stat").arg(pid));
    const int afterName = stat.lastIndexOf(')');
    return afterName > 0 && stat.size() > afterName + 2 && stat.at(afterName + 2) != 'Z';
}

qint64 idIn(const QString& file) {
    return fileContent(file).trimmed().toLongLong();
}

HeldLock::HeldLock(const QString& path, bool take)
    : file(::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC)),
      locked(take && file.fd >= 0 && ::flock(file.fd, LOCK_EX | LOCK_NB) == 0) {}

QProcessEnvironment offscreenEnvironment() {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    return environment;
}

bool catchesTerminationSignals(qint64 pid) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return false;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (!line.startsWith("SigCgt:"))
            continue;
        const quint64 caught = line.mid(7).trimmed().toULongLong(nullptr, 16);
        quint64 wanted = 0;
        for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGSEGV, SIGABRT})
            wanted |= 1ULL << (signalNumber - 1);
        return (caught & wanted) == wanted;
    }
    return false;
}

void startProgramCopy(QProcess& process, const QString& folder,
                      const QProcessEnvironment& environment) {
    const QString program = folder + QStringLiteral("certwright");
    QVERIFY(QFile::copy(testPath("CERTWRIGHT_EXECUTABLE"), program));
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(folder);
    process.start(program, {});
    QVERIFY(process.waitForStarted(10000));
    QTRY_VERIFY_WITH_TIMEOUT(catchesTerminationSignals(process.processId()), 10000);
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

StandardErrorCapture::StandardErrorCapture() {
    std::fflush(stderr);
    saved = ::dup(STDERR_FILENO);
    const QByteArray path = QFile::encodeName(folder.file(QStringLiteral("stderr.txt")));
    const int file = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(file, STDERR_FILENO);
    ::close(file);
}

StandardErrorCapture::~StandardErrorCapture() {
    restore();
}

QString StandardErrorCapture::text() {
    restore();
    return QString::fromUtf8(fileContent(folder.file(QStringLiteral("stderr.txt"))));
}

void StandardErrorCapture::restore() {
    if (saved < 0)
        return;
    std::fflush(stderr);
    ::dup2(saved, STDERR_FILENO);
    ::close(saved);
    saved = -1;
}

ModalScript::Action acceptPrintDialog() {
    return [](QWidget* modal) {
        const bool printDialog = qobject_cast<QPrintDialog*>(modal);
        if (auto* dialog = qobject_cast<QDialog*>(modal))
            dialog->accept();
        QVERIFY2(printDialog, qPrintable("expected the print dialog, got " + modal->windowTitle()));
    };
}

void printToPdf(TWizardFrame& wizard, const QString& pdf) {
    wizard.printer()->setOutputFormat(QPrinter::PdfFormat);
    wizard.printer()->setOutputFileName(pdf);
}

QString printShownPage(TWizardFrame& wizard, const QString& pdf) {
    printToPdf(wizard, pdf);
    ModalScript script({acceptPrintDialog()});
    wizard.sbPrint->click();
    return script.remaining() == 0 ? pdf : QString();
}

QStringList printedLines(const QString& pdf) {
    QStringList lines;
    for (const QString& line : pdfText(pdf).split('\n'))
        lines << line.simplified();
    return lines;
}

void addBoolRows(const char* column, const char* whenFalse, const char* whenTrue) {
    QTest::addColumn<bool>(column);
    QTest::newRow(whenFalse) << false;
    QTest::newRow(whenTrue) << true;
}

bool writeProgram(const QString& path, const QByteArray& script) {
    QFile::remove(path);
    writeFileContent(path, script);
    return QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}
