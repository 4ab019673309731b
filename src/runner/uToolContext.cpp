#include "uToolContext.h"

#include "uCertwrightCommon.h"
#include "uPassPhraseFolder.h"

#include <QDir>

ToolContext desktopToolContext() {
    return {ProgramFolder(), PassPhraseFolder(), DebugMode,
            withTrailingSeparator(QDir::currentPath())};
}
