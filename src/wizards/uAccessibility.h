#pragma once

#include <QList>
#include <QString>

#include <initializer_list>

class QAbstractButton;
class QLabel;
class QWidget;

// The name under which assistive technology announces a control that a label describes: the
// label's text without its "&" marks and without a trailing colon.
QString nameFromLabel(const QString& labelText);

// The label describes the controls: the first becomes its buddy, and each is named after the
// label (nameFromLabel). The name follows the label's text whenever the label is shown or
// repainted, so a caption that a step changes names the control too.
void nameAfterLabel(QLabel* label, std::initializer_list<QWidget*> controls);

// Says what a button does in its tool tip. A button whose caption holds no word ("...", or a
// picture only) is also named by the description; any other keeps its caption as its name,
// which voice control users say to press it, and has the description as its accessible
// description.
void describeButton(QAbstractButton* button, const QString& description);

// Tab and the arrow keys visit the option buttons in the given order, not in their places on
// the screen: Up and Left go to the previous one, Down and Right to the next one, without
// wrapping at either end; moving on from the checked button checks the next one, as Qt does.
// Hidden and disabled buttons are passed over.
void setKeyboardOrder(const QList<QAbstractButton*>& buttons);
