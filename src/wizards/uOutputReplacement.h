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
