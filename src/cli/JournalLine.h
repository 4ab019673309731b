#pragma once

#include <QString>

// Lines of standard error that a timer's journal keeps as errors.
namespace JournalLine {

// The text as one line of standard error: line ends and other control characters become blanks,
// so that the journal keeps it as one entry. When standard error is the journal's own stream (as
// systemd names it in JOURNAL_STREAM), the line starts with the error priority "<3>", so that
// `journalctl -p err` shows it.
QString error(const QString& text);

} // namespace JournalLine
