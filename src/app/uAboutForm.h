#pragma once

#include <QDialog>
#include <QLabel>

class QTimer;

// A label that reports a left click, for the About screen's links and pictures.
class TClickableLabel : public QLabel {
    Q_OBJECT
  public:
    explicit TClickableLabel(QWidget* parent);

  signals:
    void clicked();

  protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
};

// The start screen: product, version, the maker's links, the request for support, and the
// link on to the chooser that appears a few seconds after the screen is shown.
class TfrmAbout : public QDialog {
    Q_OBJECT
  public:
    explicit TfrmAbout(QWidget* owner = nullptr);

    static inline const QString kMakerAddress = QStringLiteral("https://www.example.org/");

    TClickableLabel* Image1;
    QLabel* Label1;
    QLabel* Label2;
    TClickableLabel* lblWebsite;
    TClickableLabel* lblViewLicense;
    QLabel* Label3;
    TClickableLabel* Image2;
    TClickableLabel* Image3;
    TClickableLabel* lblStart;
    QLabel* Label4;
    QTimer* tmrStart;

  public slots:
    void tmrStartTimer();
    void lblStartClick();
    void lblWebsiteClick();
    void Image1Click();
    void lblViewLicenseClick();
    void Image2Click();
    void Image3Click();

  protected:
    // FormShow: the link on appears only a while after the screen is first shown.
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
};
