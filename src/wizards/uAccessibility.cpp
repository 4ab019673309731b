#include "uAccessibility.h"

#include <QAbstractButton>
#include <QEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QPointer>
#include <QRegularExpression>

#include <algorithm>

namespace {

// Keeps the accessible names of the controls that a label describes equal to the label's text.
// QLabel reports no change of its text, but a label whose text changes is repainted, or shown
// when it was hidden, before anybody can see the new text.
class LabelNameKeeper : public QObject {
  public:
    LabelNameKeeper(QLabel* label, std::initializer_list<QWidget*> controls)
        : QObject(label), label(label), controls(controls.begin(), controls.end()) {
        label->installEventFilter(this);
        update();
    }

    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Show || event->type() == QEvent::Paint)
            update();
        return false;
    }

  private:
    QLabel* label;
    QList<QPointer<QWidget>> controls;

    void update() {
        const QString name = nameFromLabel(label->text());
        for (QWidget* control : controls)
            if (control && control->accessibleName() != name)
                control->setAccessibleName(name);
    }
};

// Moves the focus among option buttons by their order in a list; Qt's own arrow keys go by the
// buttons' places on the screen.
class ArrowKeyOrder : public QObject {
  public:
    explicit ArrowKeyOrder(const QList<QAbstractButton*>& buttons)
        : QObject(buttons.constFirst()), buttons(buttons.begin(), buttons.end()) {
        for (QAbstractButton* button : buttons)
            button->installEventFilter(this);
    }

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::KeyPress)
            return false;
        auto* current = static_cast<QAbstractButton*>(watched);
        const int step = stepOf(static_cast<QKeyEvent*>(event)->key(), current->isRightToLeft());
        if (step == 0)
            return false;
        QAbstractButton* target = neighbour(current, step);
        if (!target) {
            // At either end nothing moves, and the key goes on to the window, as in Qt.
            event->ignore();
            return true;
        }
        if (current->isChecked() && target->isCheckable())
            target->click();
        target->setFocus(step < 0 ? Qt::BacktabFocusReason : Qt::TabFocusReason);
        return true;
    }

  private:
    QList<QPointer<QAbstractButton>> buttons;

    // -1 for a key that goes back in the order, 1 for one that goes on, 0 for any other key.
    static int stepOf(int key, bool rightToLeft) {
        switch (key) {
        case Qt::Key_Up:
            return -1;
        case Qt::Key_Down:
            return 1;
        case Qt::Key_Left:
            return rightToLeft ? 1 : -1;
        case Qt::Key_Right:
            return rightToLeft ? -1 : 1;
        default:
            return 0;
        }
    }

    QAbstractButton* neighbour(QAbstractButton* current, int step) const {
        for (qsizetype i = buttons.indexOf(current) + step; i >= 0 && i < buttons.size();
             i += step) {
            QAbstractButton* candidate = buttons.at(i);
            if (candidate && !candidate->isHidden() && candidate->isEnabled())
                return candidate;
        }
        return nullptr;
    }
};

} // namespace

QString nameFromLabel(const QString& labelText) {
    // A lone "&" marks the mnemonic letter; "&&" stands for one "&".
    static const QRegularExpression mnemonicMark(QStringLiteral("&(?!&)"));
    QString name = QString(labelText).remove(mnemonicMark).trimmed();
    if (name.endsWith(QLatin1Char(':')))
        name.chop(1);
    return name.trimmed();
}

void nameAfterLabel(QLabel* label, std::initializer_list<QWidget*> controls) {
    Q_ASSERT(controls.size() > 0);
    label->setBuddy(*controls.begin());
    new LabelNameKeeper(label, controls);
}

void describeButton(QAbstractButton* button, const QString& description) {
    const QString caption = button->text();
    const bool captionHasWord =
        std::any_of(caption.begin(), caption.end(), [](QChar c) { return c.isLetterOrNumber(); });
    if (captionHasWord)
        button->setAccessibleDescription(description);
    else
        button->setAccessibleName(description);
    button->setToolTip(description);
}

void setKeyboardOrder(const QList<QAbstractButton*>& buttons) {
    for (qsizetype i = 1; i < buttons.size(); ++i)
        QWidget::setTabOrder(buttons.at(i - 1), buttons.at(i));
    new ArrowKeyOrder(buttons);
}
