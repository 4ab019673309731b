#include "ExpiryForm.h"

#include "CertificateText.h"
#include "ExpiryCalendar.h"
#include "uAccessibility.h"
#include "uCertwrightCommon.h"
#include "uRenewal.h"
#include "uToolSteps.h"
#include "uWindowsCommon.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <mutex>

namespace {

const QString kTitle = QStringLiteral("When your certificates expire");
const QString kReadingText =
    QStringLiteral("Reading the certificates... Cancel or Escape ends the reading.");
const QString kRenewingText =
    QStringLiteral("Renewing the certificate of %1... Cancel or Escape ends the renewal.");
const QString kSummaryText = QStringLiteral("%1 certificates, %2 of them need your attention: "
                                            "they are due for renewal, expired or unreadable.");
const QString kAllWellText = QStringLiteral("%1 certificates; none is due for renewal yet.");
const QString kNothingText = QStringLiteral(
    "No certificate is known yet. Certificates obtained from an authority (ACME) are listed "
    "here by themselves; add certificate files and servers with \"Add...\".");
const QString kCancelledText =
    QStringLiteral("The reading was ended; press Refresh to read again.");
const QString kEntriesCaption = QStringLiteral("Certificates:");
const QString kCancelCaption = QStringLiteral("Cancel");
const QString kCloseCaption = QStringLiteral("Close");
const QString kRefreshCaption = QStringLiteral("Refresh");
const QString kNamesHeader = QStringLiteral("Names");
const QString kWhereHeader = QStringLiteral("Where");
const QString kExpiresHeader = QStringLiteral("Expires");
const QString kDaysLeftHeader = QStringLiteral("Days left");
const QString kDueHeader = QStringLiteral("Due");
const QString kLastRenewalHeader = QStringLiteral("Last renewal");
const QString kUnknown = QStringLiteral("unknown");
const QString kDueNow = QStringLiteral("now");
const QString kExpiredText = QStringLiteral("expired");
const QString kUnreadableText = QStringLiteral("cannot be read");
const QString kWhereText = QStringLiteral("%1 (%2)");
const QString kNamesSeparator = QStringLiteral(", ");
const QString kAddTitle = QStringLiteral("Watch a certificate");
const QString kAddPrompt =
    QStringLiteral("A certificate file (its full path) or a server (HOST or HOST:PORT) to watch:");
const QString kRemoveQuestion = QStringLiteral("Stop watching %1?");
const QString kExportTitle = QStringLiteral("Export the calendar");
const QString kCalendarFileName = QStringLiteral("certificates.ics");
const QStringList kCalendarFilters = {QStringLiteral("Calendar files (*.ics)"),
                                      QStringLiteral("All files (*)")};
const QString kExportedText = QStringLiteral("The calendar was written to %1.");
const QString kRenewedMessage = QStringLiteral("The certificate of %1 was renewed.");
const QString kRenewedButMessage = QStringLiteral("The certificate of %1 was renewed, but: %2");
const QString kRenewFailedMessage = QStringLiteral("The certificate of %1 could not be renewed.");
const QString kNoPassPhraseMessage = QStringLiteral(
    "The renewal would need a pass phrase that is not recorded. Obtain the certificate anew.");
const QString kRenewDescription =
    QStringLiteral("Obtains the chosen recorded certificate anew from its authority now");
const QString kRemoveDescription =
    QStringLiteral("Takes the chosen file or server off the list of watched certificates");

constexpr int kEntryRole = Qt::UserRole;
constexpr int kSortRole = Qt::UserRole + 1;
constexpr int kMinimumWidth = 760;
constexpr int kMinimumHeight = 320;

// A cell that sorts by its own key, not by its text.
class SortedItem : public QTableWidgetItem {
  public:
    SortedItem(const QString& text, const QVariant& key) : QTableWidgetItem(text) {
        setData(kSortRole, key);
        setFlags(flags() & ~Qt::ItemIsEditable);
    }
    bool operator<(const QTableWidgetItem& other) const override {
        return QVariant::compare(data(kSortRole), other.data(kSortRole)) == QPartialOrdering::Less;
    }
};

// A renewal started from the window asks nothing and keeps what it says for the end.
class NoticeUser : public ToolSteps::StepUser {
  public:
    PassPhrases askPassPhrases(PassPhraseUse) override { throw PageError(kNoPassPhraseMessage); }
    bool mayReplace(const QString&, bool) override { return true; }
    void tell(const QString& notice) override {
        const std::lock_guard<std::mutex> lock(mutex);
        notices << notice;
    }
    QStringList told() {
        const std::lock_guard<std::mutex> lock(mutex);
        return notices;
    }

  private:
    std::mutex mutex;
    QStringList notices;
};

QString timeText(const QDateTime& time) {
    return CertificateText::shortDateText(time);
}

} // namespace

TfrmExpiry::TfrmExpiry(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                         Qt::WindowCloseButtonHint) {
    named(this, "frmExpiry");
    setWindowTitle(kTitle);
    setMinimumSize(kMinimumWidth, kMinimumHeight);
    lblStatus = named(new QLabel(this), "lblStatus");
    lblStatus->setWordWrap(true);
    tblEntries = named(new QTableWidget(0, colCount, this), "tblEntries");
    tblEntries->setHorizontalHeaderLabels({kNamesHeader, kWhereHeader, kExpiresHeader,
                                           kDaysLeftHeader, kDueHeader, kLastRenewalHeader});
    tblEntries->setSelectionBehavior(QAbstractItemView::SelectRows);
    tblEntries->setSelectionMode(QAbstractItemView::SingleSelection);
    tblEntries->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tblEntries->setTabKeyNavigation(false);
    tblEntries->verticalHeader()->hide();
    tblEntries->horizontalHeader()->setStretchLastSection(true);
    lblEntries = named(new QLabel(kEntriesCaption, this), "lblEntries");
    nameAfterLabel(lblEntries, {tblEntries});
    btnRenew = named(new QPushButton(kRenewCaption, this), "btnRenew");
    btnAdd = named(new QPushButton(kAddCaption, this), "btnAdd");
    btnRemove = named(new QPushButton(kRemoveCaption, this), "btnRemove");
    btnExport = named(new QPushButton(kExportCaption, this), "btnExport");
    btnCancel = named(new QPushButton(kCancelCaption, this), "btnCancel");
    btnClose = named(new QPushButton(kCloseCaption, this), "btnClose");
    btnRenew->setToolTip(kRenewDescription);
    btnRemove->setToolTip(kRemoveDescription);
    auto* btnRefresh = named(new QPushButton(kRefreshCaption, this), "btnRefresh");
    for (QPushButton* button : {btnRenew, btnAdd, btnRemove, btnExport, btnCancel, btnClose})
        button->setAutoDefault(false);
    btnRefresh->setAutoDefault(false);
    btnClose->setDefault(true);

    connect(btnRenew, &QPushButton::clicked, this, &TfrmExpiry::btnRenewClick);
    connect(btnAdd, &QPushButton::clicked, this, &TfrmExpiry::btnAddClick);
    connect(btnRemove, &QPushButton::clicked, this, &TfrmExpiry::btnRemoveClick);
    connect(btnExport, &QPushButton::clicked, this, &TfrmExpiry::btnExportClick);
    connect(btnCancel, &QPushButton::clicked, this, &TfrmExpiry::btnCancelClick);
    connect(btnClose, &QPushButton::clicked, this, &TfrmExpiry::reject);
    connect(btnRefresh, &QPushButton::clicked, this, &TfrmExpiry::refresh);
    connect(tblEntries, &QTableWidget::itemSelectionChanged, this, &TfrmExpiry::updateButtons);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(lblStatus);
    layout->addWidget(lblEntries);
    layout->addWidget(tblEntries, 1);
    auto* buttons = new QHBoxLayout;
    for (QPushButton* button : {btnRenew, btnAdd, btnRemove, btnRefresh, btnExport})
        buttons->addWidget(button);
    buttons->addStretch();
    buttons->addWidget(btnCancel);
    buttons->addWidget(btnClose);
    layout->addLayout(buttons);
    refresh();
}

const ExpiryWatch::Entry& TfrmExpiry::entryAt(int row) const {
    return shown.at(tblEntries->item(row, colNames)->data(kEntryRole).toInt());
}

int TfrmExpiry::selectedRow() const {
    const QList<QTableWidgetItem*> selected = tblEntries->selectedItems();
    return selected.isEmpty() ? -1 : selected.first()->row();
}

void TfrmExpiry::start(WindowJob::Work work, std::function<void()> done, const QString& status) {
    job = std::make_unique<WindowJob>(std::move(work), [this, done](std::exception_ptr thrown) {
        job.reset();
        showWorking(false);
        if (thrown)
            runGuarded(this, [&thrown] { std::rethrow_exception(thrown); });
        else
            done();
    });
    lblStatus->setText(status);
    showWorking(true);
}

void TfrmExpiry::refresh() {
    const ToolContext context = desktopToolContext();
    auto read = std::make_shared<QVector<ExpiryWatch::Entry>>();
    start(
        [context, read](RunCancel& cancel) {
            *read = ExpiryWatch::entries(context, CertificateCheck::kServerTimeoutMs,
                                         ExpiryWatch::kDefaultParallel, &cancel);
        },
        [this, read] {
            shown = *read;
            showEntries();
        },
        kReadingText);
}

void TfrmExpiry::showEntries() {
    const QDateTime now = QDateTime::currentDateTimeUtc();
    QVector<int> order(shown.size());
    for (int at = 0; at < int(order.size()); ++at)
        order[at] = at;
    std::stable_sort(order.begin(), order.end(),
                     [this](int a, int b) { return ExpiryWatch::comesFirst(shown[a], shown[b]); });
    tblEntries->setSortingEnabled(false);
    tblEntries->setRowCount(int(shown.size()));
    int attention = 0;
    for (int rank = 0; rank < int(order.size()); ++rank) {
        const int index = order[rank];
        const ExpiryWatch::Entry& entry = shown[index];
        attention += entry.needsAttention() ? 1 : 0;
        const bool known = entry.error.isEmpty() && entry.expiry.isValid();
        const QString names = entry.names.join(kNamesSeparator);
        auto* first = new SortedItem(names.isEmpty() ? entry.where : names, names);
        first->setData(kEntryRole, index);
        if (!entry.error.isEmpty())
            first->setToolTip(entry.error);
        const QString due = !entry.error.isEmpty()    ? kUnreadableText
                            : entry.expired           ? kExpiredText
                            : entry.due               ? kDueNow
                            : entry.dueFrom.isValid() ? timeText(entry.dueFrom)
                                                      : kUnknown;
        const qint64 days = entry.daysLeft(now);
        tblEntries->setItem(rank, colNames, first);
        tblEntries->setItem(
            rank, colWhere,
            new SortedItem(kWhereText.arg(entry.where, entry.sourceText()), entry.where));
        tblEntries->setItem(rank, colExpires,
                            new SortedItem(known ? timeText(entry.expiry) : kUnknown,
                                           known ? entry.expiry : QDateTime()));
        tblEntries->setItem(rank, colDaysLeft,
                            new SortedItem(known ? QString::number(days) : kUnknown,
                                           known ? days : std::numeric_limits<qint64>::min()));
        auto* dueItem = new SortedItem(due, rank);
        if (!entry.error.isEmpty())
            dueItem->setToolTip(entry.error);
        tblEntries->setItem(rank, colDue, dueItem);
        tblEntries->setItem(rank, colLastRenewal,
                            new SortedItem(entry.lastRenewalText(), entry.lastAttempt));
    }
    tblEntries->setSortingEnabled(true);
    tblEntries->sortByColumn(colDue, Qt::AscendingOrder);
    tblEntries->resizeColumnsToContents();
    lblStatus->setText(shown.isEmpty() ? kNothingText
                       : attention > 0 ? kSummaryText.arg(shown.size()).arg(attention)
                                       : kAllWellText.arg(shown.size()));
    if (!shown.isEmpty())
        tblEntries->selectRow(0);
    updateButtons();
}

void TfrmExpiry::showWorking(bool working) {
    for (QPushButton* button : findChildren<QPushButton*>())
        button->setEnabled(!working || button == btnCancel || button == btnClose);
    btnCancel->setVisible(working);
    tblEntries->setEnabled(!working);
    if (working) {
        setCursor(Qt::BusyCursor);
        btnCancel->setFocus();
        return;
    }
    unsetCursor();
    updateButtons();
    tblEntries->setFocus();
}

void TfrmExpiry::updateButtons() {
    if (job)
        return;
    const int row = selectedRow();
    const bool any = row >= 0;
    btnRenew->setEnabled(any && entryAt(row).source == ExpiryWatch::Source::Record &&
                         !entryAt(row).recordName.isEmpty());
    btnRemove->setEnabled(any && entryAt(row).source != ExpiryWatch::Source::Record);
    btnExport->setEnabled(!shown.isEmpty());
}

void TfrmExpiry::btnRenewClick() {
    runGuarded(this, [this] {
        const int row = selectedRow();
        if (row < 0 || entryAt(row).recordName.isEmpty())
            return;
        const QString name = entryAt(row).recordName;
        const ToolContext context = desktopToolContext();
        auto outcomes = std::make_shared<QVector<Renewal::Outcome>>();
        auto user = std::make_shared<NoticeUser>();
        start(
            [name, context, outcomes, user](RunCancel& cancel) {
                *outcomes = Renewal::renewDue(Renewal::kEveryCertificate, name, *user, context,
                                              false, &cancel);
            },
            [this, name, outcomes, user] {
                const Renewal::Outcome outcome = outcomes->isEmpty()
                                                     ? Renewal::Outcome{name, false, QString()}
                                                     : outcomes->last();
                const QString told = user->told().join(QLatin1Char('\n'));
                if (!outcome.renewed)
                    showErrorBox(this, kRenewFailedMessage.arg(name), outcome.error, told);
                else if (!outcome.error.isEmpty())
                    showErrorBox(this, kRenewedButMessage.arg(name, outcome.error), QString(),
                                 told);
                else
                    QMessageBox::information(this, kApplicationTitle, kRenewedMessage.arg(name));
                refresh();
            },
            kRenewingText.arg(name));
    });
}

void TfrmExpiry::btnAddClick() {
    runGuarded(this, [this] {
        QInputDialog dialog(this);
        named(&dialog, "dlgAddWatched");
        dialog.setWindowTitle(kAddTitle);
        dialog.setLabelText(kAddPrompt);
        if (dialog.exec() != QDialog::Accepted || dialog.textValue().trimmed().isEmpty())
            return;
        ExpiryWatch::add(dialog.textValue(), withTrailingSeparator(QDir::homePath()));
        refresh();
    });
}

void TfrmExpiry::btnRemoveClick() {
    runGuarded(this, [this] {
        const int row = selectedRow();
        if (row < 0 || entryAt(row).source == ExpiryWatch::Source::Record)
            return;
        const QString where = entryAt(row).where;
        if (QMessageBox::question(this, kApplicationTitle, kRemoveQuestion.arg(where)) !=
            QMessageBox::Yes)
            return;
        ExpiryWatch::remove(where, QString());
        refresh();
    });
}

void TfrmExpiry::btnExportClick() {
    runGuarded(this, [this] {
        QFileDialog dialog(this, kExportTitle, QDir(QDir::homePath()).filePath(kCalendarFileName));
        named(&dialog, "dlgExportCalendar");
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setNameFilters(kCalendarFilters);
        dialog.setDefaultSuffix(QStringLiteral("ics"));
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return;
        // The dialog asked before an existing file is replaced.
        const QString file = dialog.selectedFiles().first();
        const QFileInfo existing(file);
        ExpiryCalendar::writeCalendar(shown, file, existing.exists() || existing.isSymLink());
        lblStatus->setText(kExportedText.arg(file));
    });
}

void TfrmExpiry::btnCancelClick() {
    if (!job)
        return;
    job.reset();
    showWorking(false);
    lblStatus->setText(kCancelledText);
}

void TfrmExpiry::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && job) {
        btnCancelClick();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TfrmExpiry::reject() {
    job.reset();
    QDialog::reject();
}
