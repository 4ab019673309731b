#pragma once

#include "uWizardFrame.h"

// A one-page guide to obtaining a certificate authority's trusted root certificate.
class TfrmExtractRoot : public TWizardFrame {
    Q_OBJECT
  public:
    explicit TfrmExtractRoot(QWidget* owner);

    QTextEdit* memInstructions = nullptr;
};
