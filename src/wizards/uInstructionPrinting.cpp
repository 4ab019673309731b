#include "uInstructionPrinting.h"

#include <QAbstractTextDocumentLayout>
#include <QFontMetrics>
#include <QPainter>
#include <QPrinter>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextEdit>
#include <QTextLayout>
#include <QTextList>

namespace {

// What stands before a list item on paper, where the box draws a number or a bullet of its
// own that is not part of the text.
QString listMarker(const QTextBlock& block) {
    const QTextList* list = block.textList();
    if (!list)
        return QString();
    const QString number = list->itemText(block);
    return (number.isEmpty() ? QStringLiteral("-") : number) + QLatin1Char(' ');
}

// A paragraph that the box sets apart with a margin is set apart with an empty line on paper.
bool setApart(const QTextBlock& block) {
    const QTextBlock previous = block.previous();
    return block.blockFormat().topMargin() > 0 ||
           (previous.isValid() && previous.blockFormat().bottomMargin() > 0);
}

} // namespace

QStringList visualLines(QTextEdit* box) {
    QTextDocument* document = box->document();
    // Makes sure that every block has been laid out at the box's width.
    document->documentLayout()->documentSize();
    QStringList lines;
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
        if (!lines.isEmpty() && !lines.last().isEmpty() && setApart(block))
            lines << QString();
        const QString marker = listMarker(block);
        const QString hanging(marker.size(), QLatin1Char(' '));
        const QTextLayout* layout = block.layout();
        if (!layout || layout->lineCount() == 0) {
            lines << marker + block.text();
            continue;
        }
        for (int i = 0; i < layout->lineCount(); ++i) {
            const QTextLine line = layout->lineAt(i);
            lines << (i == 0 ? marker : hanging) +
                         block.text().mid(line.textStart(), line.textLength());
        }
    }
    return lines;
}

namespace {

// Splits a line into the pieces that fit the width, each as long as it can be.
QStringList piecesThatFit(const QString& line, const QFontMetrics& metrics, int width) {
    QStringList pieces;
    QString rest = line;
    while (metrics.horizontalAdvance(rest) > width) {
        int length = 1;
        while (length < rest.size() && metrics.horizontalAdvance(rest.left(length + 1)) <= width)
            ++length;
        pieces << rest.left(length);
        rest = rest.mid(length);
    }
    pieces << rest;
    return pieces;
}

} // namespace

bool printLines(QPrinter* printer, const QStringList& lines) {
    QPainter painter;
    if (!painter.begin(printer))
        return false;
    const QFontMetrics metrics = painter.fontMetrics();
    const int width = painter.device()->width();
    const int height = painter.device()->height();
    int top = 0;
    for (const QString& line : lines) {
        for (const QString& piece : piecesThatFit(line, metrics, width)) {
            if (top > 0 && top + metrics.lineSpacing() > height) {
                if (!printer->newPage())
                    return false;
                top = 0;
            }
            painter.drawText(0, top + metrics.ascent(), piece);
            top += metrics.lineSpacing();
        }
    }
    return painter.end() && printer->printerState() != QPrinter::Error;
}
