#pragma once

#include "ExpiryWatch.h"
#include "uWindowJob.h"

#include <QDialog>
#include <QStringList>
#include <QVector>

#include <exception>
#include <memory>

class QKeyEvent;
class QLabel;
class QPushButton;
class QTableWidget;

// When each of the user's certificates expires: the certificates recorded for renewal and the
// watched files and servers, in a table that sorts by any column and shows the due ones first.
// A recorded certificate can be renewed at once, files and servers added to the watch list and
// taken off it, and the whole exported as a calendar. Reading the servers and renewing run on a
// thread of their own; Cancel and Escape end them at once.
class TfrmExpiry : public QDialog {
    Q_OBJECT
  public:
    enum Column { colNames, colWhere, colExpires, colDaysLeft, colDue, colLastRenewal, colCount };

    static inline const QString kRenewCaption = QStringLiteral("Renew Now");
    static inline const QString kAddCaption = QStringLiteral("Add...");
    static inline const QString kRemoveCaption = QStringLiteral("Remove");
    static inline const QString kExportCaption = QStringLiteral("Export calendar...");

    explicit TfrmExpiry(QWidget* owner);

    QLabel* lblStatus = nullptr;
    QLabel* lblEntries = nullptr;
    QTableWidget* tblEntries = nullptr;
    QPushButton* btnRenew = nullptr;
    QPushButton* btnAdd = nullptr;
    QPushButton* btnRemove = nullptr;
    QPushButton* btnExport = nullptr;
    QPushButton* btnCancel = nullptr; // ends the reading or the renewal while it runs
    QPushButton* btnClose = nullptr;

    // The entries shown, in the order read.
    const QVector<ExpiryWatch::Entry>& entries() const { return shown; }
    // The entry of the table's row, as it is sorted now.
    const ExpiryWatch::Entry& entryAt(int row) const;
    // True while the list is read or a certificate renewed.
    bool isWorking() const { return job != nullptr; }

  public slots:
    // Reads every entry anew.
    void refresh();
    void btnRenewClick();
    void btnAddClick();
    void btnRemoveClick();
    void btnExportClick();
    void btnCancelClick();
    // Escape and the close box end work that runs, and close the window.
    void reject() override;

  protected:
    // Escape ends work that runs, as Cancel does; without work it closes the window.
    void keyPressEvent(QKeyEvent* event) override;

  private:
    QVector<ExpiryWatch::Entry> shown;
    std::unique_ptr<WindowJob> job;

    void start(WindowJob::Work work, std::function<void()> done, const QString& status);
    void readEnded(const QVector<ExpiryWatch::Entry>& read, std::exception_ptr thrown);
    void showEntries();
    void showWorking(bool working);
    void updateButtons();
    int selectedRow() const;
};
