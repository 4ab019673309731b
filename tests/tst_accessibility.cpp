#include "ExpiryForm.h"
#include "InstallCertificateForm.h"
#include "TestSupport.h"
#include "uAboutForm.h"
#include "uAcmeForm.h"
#include "uCheckCertificateForm.h"
#include "uExtractRootForm.h"
#include "uGenerateCSRForm.h"
#include "uMainForm.h"
#include "uPasswordForm.h"
#include "uPrepareIISForm.h"
#include "uPrepareIndyIntrawebForm.h"
#include "uSelfSignForm.h"
#include "uViewInstructionsForm.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QToolButton>
#include <QtTest>

#include <functional>
#include <memory>

namespace {

using Window = std::unique_ptr<QWidget>;

template <class Wizard> Window wizardOnPage(int page) {
    auto wizard = std::make_unique<Wizard>(nullptr);
    wizard->show();
    for (int i = 0; i < page; ++i)
        wizard->btnNext->click();
    return wizard;
}

// The Indy/IntraWeb wizard on the page after the key source page, left with the given source.
Window indyAfterKeySource(QRadioButton* TfrmPrepareIndyIntraweb::*source) {
    auto wizard = std::make_unique<TfrmPrepareIndyIntraweb>(nullptr);
    wizard->show();
    wizard->btnNext->click();
    (wizard.get()->*source)->click();
    wizard->btnNext->click();
    return wizard;
}

Window passPhraseDialog(PassPhraseUse use) {
    auto dialog = std::make_unique<TfrmPasswordDlg>(nullptr);
    dialog->setUp(use);
    dialog->show();
    return dialog;
}

// One window of the program in one state; every page of a wizard is looked at when allPages.
struct Opening {
    const char* name;
    std::function<Window()> open;
    bool allPages = true;
};

const Opening kOpenings[] = {
    {"chooser",
     [] {
         auto chooser = std::make_unique<TfrmCertwright>();
         chooser->show();
         return Window(std::move(chooser));
     }},
    {"About screen",
     [] {
         auto about = std::make_unique<TfrmAbout>();
         about->show();
         about->tmrStartTimer();
         return Window(std::move(about));
     }},
    {"request wizard", [] { return wizardOnPage<TfrmGenerateCSR>(0); }},
    {"self-signed wizard", [] { return wizardOnPage<TfrmSelfSign>(0); }},
    {"IIS wizard", [] { return wizardOnPage<TfrmPrepareIIS>(0); }},
    {"Indy/IntraWeb wizard", [] { return wizardOnPage<TfrmPrepareIndyIntraweb>(0); }},
    {"Indy/IntraWeb key page for a Certwright key",
     [] { return indyAfterKeySource(&TfrmPrepareIndyIntraweb::rbGenCertwright); }, false},
    {"root certificate guide", [] { return wizardOnPage<TfrmExtractRoot>(0); }},
    {"installation instructions viewer", [] { return wizardOnPage<TfrmViewInstructions>(0); }},
    {"certificate check", [] { return wizardOnPage<TfrmCheckCertificate>(0); }},
    {"free-certificate wizard", [] { return wizardOnPage<TfrmAcme>(0); }},
    {"installation from an authority's answer",
     [] { return wizardOnPage<TfrmInstallCertificate>(0); }},
    {"expiry view",
     [] {
         auto view = std::make_unique<TfrmExpiry>(nullptr);
         view->show();
         return Window(std::move(view));
     }},
    {"pass phrases for a request",
     [] { return passPhraseDialog(PassPhraseUse::CertificateRequest); }},
    {"pass phrases for IIS", [] { return passPhraseDialog(PassPhraseUse::IISBundle); }},
    {"pass phrases for a PFX file", [] { return passPhraseDialog(PassPhraseUse::IndyFromPfx); }},
    {"pass phrases for a key file", [] { return passPhraseDialog(PassPhraseUse::IndyFromKey); }},
    {"pass phrases for server files", [] { return passPhraseDialog(PassPhraseUse::ServerFiles); }},
};

// What is wrong with the name that assistive technology reads for a control, or empty.
QString namingProblem(QWidget* window, QWidget* control) {
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(control);
    const QString name = accessible->text(QAccessible::Name);
    if (name.trimmed().isEmpty())
        return QStringLiteral("has no name");
    if (name.endsWith(QLatin1Char(':')))
        return QStringLiteral("is named \"%1\", with the label's colon").arg(name);
    // A drop-down list reports its entry as its name; the label then names it by relation.
    // A table gives its name for every text but its description, its value too.
    const bool nameIsValue =
        name == accessible->text(QAccessible::Value) && accessible->role() != QAccessible::Table;
    if (nameIsValue && accessible->relations(QAccessible::Label).isEmpty())
        return QStringLiteral("is named only by its value \"%1\"").arg(name);
    for (const QLabel* label : window->findChildren<QLabel*>()) {
        if (label->buddy() != control || nameIsValue)
            continue;
        QString caption = label->text();
        if (caption.endsWith(QLatin1Char(':')))
            caption.chop(1);
        if (name != caption)
            return QStringLiteral("is named \"%1\", its label reads \"%2\"").arg(name, caption);
    }
    // A button that shows no words says what it does in its tool tip as well.
    if (auto* button = qobject_cast<QAbstractButton*>(control)) {
        const QString caption = button->text();
        if ((caption.isEmpty() || caption == QLatin1String("...")) && button->toolTip() != name)
            return QStringLiteral("has the tool tip \"%1\"").arg(button->toolTip());
        // One that shows words is found by them, as voice control users say them.
        if (caption != QLatin1String("...") && !name.startsWith(QString(caption).remove('&')))
            return QStringLiteral("is named \"%1\", its caption reads \"%2\"").arg(name, caption);
    }
    return QString();
}

// The visible controls that take the focus by Tab, and the visible buttons.
QList<QWidget*> visibleControls(QWidget* window) {
    QList<QWidget*> controls;
    for (QWidget* widget : window->findChildren<QWidget*>()) {
        // A part that hands its focus on (a spin box's text) is named as the whole.
        if (!widget->isVisible() || widget->focusProxy())
            continue;
        if ((widget->focusPolicy() & Qt::TabFocus) || qobject_cast<QAbstractButton*>(widget))
            controls << widget;
    }
    return controls;
}

QString focusName() {
    return QApplication::focusWidget() ? QApplication::focusWidget()->objectName() : QString();
}

} // namespace

Q_DECLARE_METATYPE(std::function<Window()>)

// What screen readers and keyboard users meet: names of the controls, the order of the option
// buttons under the arrow keys, the print key, and the window decorations.
class TestAccessibility : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase() { QAccessible::setActive(true); }

    void everyControlIsNamed_data() {
        QTest::addColumn<int>("opening");
        for (int i = 0; i < int(std::size(kOpenings)); ++i)
            QTest::newRow(kOpenings[i].name) << i;
    }
    void everyControlIsNamed() {
        QFETCH(int, opening);
        const Window window = kOpenings[opening].open();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        auto* pages = window->findChild<QStackedWidget*>(QStringLiteral("pcWizard"));
        const int pageCount = pages && kOpenings[opening].allPages ? pages->count() : 1;
        int looked = 0;
        for (int page = 0; page < pageCount; ++page) {
            if (pages && kOpenings[opening].allPages)
                pages->setCurrentIndex(page);
            const QString where = pages ? pages->currentWidget()->objectName() : QString();
            for (QWidget* control : visibleControls(window.get())) {
                const QString problem = namingProblem(window.get(), control);
                QVERIFY2(problem.isEmpty(),
                         qPrintable(where + " " + control->objectName() + " " + problem));
                ++looked;
            }
        }
        QVERIFY(looked > 0);
        // A label that shows text is read out as it shows, not by a name of its own.
        for (const QLabel* label : window->findChildren<QLabel*>())
            QVERIFY2(label->accessibleName().isEmpty() || !label->pixmap().isNull(),
                     qPrintable(label->objectName() + " hides its text behind its name"));
    }

    void arrowKeysFollowTheOrderOfTheOptions_data() {
        QTest::addColumn<std::function<Window()>>("open");
        QTest::addColumn<QStringList>("order");
        const std::function<Window()> chooser = [] { return Window(new TfrmCertwright); };
        QTest::newRow("chooser") << chooser
                                 << QStringList{"rbGenerateCSR", "rbSelfSign",    "rbAcme",
                                                "rbExtractRoot", "rbPrepareIndy", "rbViewInstall",
                                                "rbPrepareIIS",  "rbCheck",       "rbInstall",
                                                "rbExpiry"};
        const QStringList keySizes{"rb1024", "rb2048", "rb512", "rb4096", "rbP256", "rbP384"};
        QTest::newRow("request key page")
            << std::function<Window()>([] { return wizardOnPage<TfrmGenerateCSR>(1); }) << keySizes;
        QTest::newRow("self-signed key page")
            << std::function<Window()>([] { return wizardOnPage<TfrmSelfSign>(1); }) << keySizes;
        QTest::newRow("Indy/IntraWeb key source")
            << std::function<Window()>([] { return wizardOnPage<TfrmPrepareIndyIntraweb>(1); })
            << QStringList{"rbGenCertwright", "rbGenIIS", "rbGenOpenSSL"};
        QTest::newRow("Indy/IntraWeb PFX question") << std::function<Window()>([] {
            return indyAfterKeySource(&TfrmPrepareIndyIntraweb::rbGenIIS);
        }) << QStringList{"rbPFXyes", "rbPFXno"};
        QTest::newRow("certificate check input")
            << std::function<Window()>([] { return wizardOnPage<TfrmCheckCertificate>(0); })
            << QStringList{"rbServer", "rbFiles", "rbPfx"};
    }
    void arrowKeysFollowTheOrderOfTheOptions() {
        QFETCH(std::function<Window()>, open);
        QFETCH(QStringList, order);
        const Window window = open();
        window->show();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        const auto button = [&window](const QString& name) {
            return window->findChild<QAbstractButton*>(name);
        };
        button(order.first())->click();
        button(order.first())->setFocus();
        const auto press = [](Qt::Key key) { QTest::keyClick(QApplication::focusWidget(), key); };
        // On through the order with Down and Right, and no further at its end.
        for (int i = 1; i <= order.size(); ++i) {
            press(i % 2 ? Qt::Key_Down : Qt::Key_Right);
            const QString expected = order.at(qMin(i, int(order.size()) - 1));
            QCOMPARE(focusName(), expected);
            QVERIFY2(button(expected)->isChecked(), qPrintable(expected));
        }
        // Back with Up and Left, and no further at its start.
        for (int i = int(order.size()) - 2; i >= -1; --i) {
            press(i % 2 ? Qt::Key_Up : Qt::Key_Left);
            const QString expected = order.at(qMax(i, 0));
            QCOMPARE(focusName(), expected);
            QVERIFY2(button(expected)->isChecked(), qPrintable(expected));
        }
        QCOMPARE(tabOrder(button(order.first()), order), order);
    }

    void windowsShowOnlyACloseBox_data() {
        QTest::addColumn<int>("opening");
        for (int i = 0; i < int(std::size(kOpenings)); ++i)
            // The About screen is a start screen without any frame.
            if (QByteArray(kOpenings[i].name) != "About screen" && kOpenings[i].allPages)
                QTest::newRow(kOpenings[i].name) << i;
    }
    // The chooser, the main window, may also be minimised.
    void windowsShowOnlyACloseBox() {
        QFETCH(int, opening);
        const Window window = kOpenings[opening].open();
        const Qt::WindowFlags flags = window->windowFlags();
        // Without CustomizeWindowHint the window manager would add its own buttons.
        QVERIFY(flags.testFlag(Qt::CustomizeWindowHint));
        QVERIFY(flags.testFlag(Qt::WindowTitleHint));
        QVERIFY(flags.testFlag(Qt::WindowCloseButtonHint));
        QCOMPARE(flags.testFlag(Qt::WindowMinimizeButtonHint),
                 QByteArray(kOpenings[opening].name) == "chooser");
        QVERIFY(!flags.testFlag(Qt::WindowMaximizeButtonHint));
        QVERIFY(!flags.testFlag(Qt::WindowContextHelpButtonHint));
    }

    void ctrlPPrintsWhileThePrintButtonShows() {
        TempFolder folder;
        TfrmPrepareIndyIntraweb wizard(nullptr);
        wizard.show();
        QVERIFY(QTest::qWaitForWindowActive(&wizard));
        QCOMPARE(wizard.sbPrint->toolTip(), QString("Print these instructions"));
        printToPdf(wizard, folder.file("instructions.pdf"));
        ModalScript script({acceptPrintDialog()});
        // The start page has nothing to print.
        QVERIFY(!wizard.sbPrint->isVisible());
        QTest::keyClick(&wizard, Qt::Key_P, Qt::ControlModifier);
        QTest::qWait(50);
        QCOMPARE(script.remaining(), 1);
        // The PFX instructions have.
        wizard.btnNext->click();
        wizard.rbGenIIS->click();
        wizard.btnNext->click();
        wizard.btnNext->click();
        QCOMPARE(wizard.currentPage(), int(TfrmPrepareIndyIntraweb::tsPFXInstructions));
        QVERIFY(wizard.sbPrint->isVisible());
        QTest::keyClick(&wizard, Qt::Key_P, Qt::ControlModifier);
        QCOMPARE(script.remaining(), 0);
        QVERIFY(printedLines(folder.file("instructions.pdf"))
                    .contains("Before continuing, you must export a PFX file from your"));
    }
};

QTEST_MAIN(TestAccessibility)
#include "tst_accessibility.moc"
