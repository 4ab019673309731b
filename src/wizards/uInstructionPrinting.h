#pragma once

#include <QStringList>

class QPrinter;
class QTextEdit;

// The box's lines as the box shows them: every stored line broken where the box wraps it,
// empty lines kept. A rich text keeps its list numbers and bullets, and its paragraphs are set
// apart by empty lines.
QStringList visualLines(QTextEdit* box);

// Prints the lines as one job from the top left of the printable area in the printer's
// default font, breaking a line that is too wide at the last character that fits and
// beginning a new page at the bottom. Returns false when the printer reports an output
// failure.
bool printLines(QPrinter* printer, const QStringList& lines);
