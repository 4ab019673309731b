#pragma once

#include <QString>
#include <QStringList>

#include <functional>

// Replaces the existing output files of one step so that a step that fails loses none of them.
// Each output that exists is first moved aside, in its own folder, under a fresh hidden name;
// then the step makes its files. When the step ends by an exception, whatever it left in the
// place of a moved output goes and the old file comes back, byte for byte, and the exception
// travels on; when it returns, the old files are deleted. Outputs that did not exist before
// are the step's own business: a failed step deletes what it must itself.
void replaceOutputs(const QStringList& outputs, const std::function<void()>& makeOutputs);

// Message of a file that cannot be moved aside, and so cannot be replaced.
inline const QString kMoveAsideFailedMessage =
    QStringLiteral("Cannot move the file \"%1\" aside, so it cannot be replaced. %2");
// Added to the step's own explanation when an old file cannot be put back: where it is kept.
inline const QString kPutBackFailedMessage =
    QStringLiteral("The earlier file \"%1\" could not be put back (%3); it is kept as \"%2\".");
