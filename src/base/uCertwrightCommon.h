#pragma once

#include <QString>

#include <stdexcept>

// The application title: the caption of every error box.
inline const QString kApplicationTitle = QStringLiteral("Certwright");

// Set once at start-up from the first command-line argument; wizards copy it into their runners.
extern bool DebugMode;

// True when the first argument (argv[1] only) is "-DEBUG" in any letter case.
bool readDebugSwitch(int argc, const char* const* argv);

// The folder of the running executable, ending in a separator; worked out on every call.
QString ProgramFolder();

// Test hook: makes ProgramFolder() answer with the given folder (empty restores the real one).
void setProgramFolderForTesting(const QString& folder);

// True when the path names an existing regular file (a link counts as what it leads to).
bool FileIsPresent(const QString& path);

// The size of the file at the path, or -1 when there is none.
qint64 QueryFileSize(const QString& path);

// The path with exactly one trailing separator added when it lacks one.
QString withTrailingSeparator(const QString& path);

// A failure that a step reports to the user; the step ends and its window stays as it is.
// Beside its message it may carry an explanation in plain words, shown below the message, and
// details (what the tool said, the command line) that the user can open.
class PageError : public std::runtime_error {
  public:
    explicit PageError(const QString& message, const QString& explanation = QString(),
                       const QString& details = QString());
    QString message() const { return text; }
    QString explanation() const { return explained; }
    QString details() const { return detailText; }

  private:
    QString text;
    QString explained;
    QString detailText;
};

// The end of a step without any message, used when the user declines or cancels something.
class SilentAbort : public std::exception {
  public:
    const char* what() const noexcept override { return "silent abort"; }
};

// Gives a control its name, by which the keyboard order and the tests find it. Every window,
// control and timer of the program is named this way.
template <typename Widget> Widget* named(Widget* widget, const char* name) {
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

// The text as the error box shows it: a full stop appended when the last character sorts
// after ".".
QString withFullStop(const QString& message);

// A text that came from outside the program (an authority's answer, another program's output)
// as it may be shown on a terminal or in a window: every control or formatting character (an
// escape sequence's ESC, a carriage return, a direction override) is spelled out as \x1b or
// \u202e, so that it can neither move the cursor nor hide or reorder other text. Line ends and
// tabs stay when keepLineEnds.
QString printableText(const QString& outside, bool keepLineEnds = false);
