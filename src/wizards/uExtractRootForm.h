#pragma once

#include "uWizardFrame.h"

// A one-page guide to obtaining a certificate authority's trusted root certificate.
class TfrmExtractRoot : public TWizardFrame {
    Q_OBJECT
  public:
    enum Page { tsStart };

    explicit TfrmExtractRoot(QWidget* owner);

    QTextEdit* memInstructions = nullptr;
};
