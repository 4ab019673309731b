#include "uCertwrightCommon.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

bool DebugMode = false;

namespace {
QString programFolderOverride;
const QString kDebugSwitch = QStringLiteral("-DEBUG");
} // namespace

bool readDebugSwitch(int argc, const char* const* argv) {
    return argc > 1 && QString::fromLocal8Bit(argv[1]).toUpper() == kDebugSwitch;
}

QString ProgramFolder() {
    if (!programFolderOverride.isEmpty())
        return withTrailingSeparator(programFolderOverride);
    return withTrailingSeparator(QCoreApplication::applicationDirPath());
}

void setProgramFolderForTesting(const QString& folder) {
    programFolderOverride = folder;
}

bool FileIsPresent(const QString& path) {
    // A FIFO, a socket or a device is nothing that this program reads or makes; reading one
    // could block for good.
    struct stat status;
    return ::stat(QFile::encodeName(path).constData(), &status) == 0 && S_ISREG(status.st_mode);
}

qint64 QueryFileSize(const QString& path) {
    const QFileInfo info(path);
    return info.exists() ? info.size() : -1;
}

QString withTrailingSeparator(const QString& path) {
    return path.endsWith(QLatin1Char('/')) ? path : path + QLatin1Char('/');
}

PageError::PageError(const QString& message, const QString& explanation, const QString& details)
    : std::runtime_error(message.toStdString()), text(message), explained(explanation),
      detailText(details) {}

QString withFullStop(const QString& message) {
    if (!message.isEmpty() && message.back() > QLatin1Char('.'))
        return message + QLatin1Char('.');
    return message;
}

QString printableText(const QString& outside, bool keepLineEnds) {
    constexpr int kHexBase = 16;
    QString shown;
    shown.reserve(outside.size());
    for (const char32_t code : outside.toUcs4()) {
        const QChar::Category category = QChar::category(code);
        const bool hidden = category == QChar::Other_Control || category == QChar::Other_Format ||
                            category == QChar::Separator_Line ||
                            category == QChar::Separator_Paragraph;
        const bool lineEnd = code == U'\n' || code == U'\t';
        if (!hidden || (keepLineEnds && lineEnd))
            shown += QString::fromUcs4(&code, 1);
        else if (code < 0x80)
            shown +=
                QStringLiteral("\\x") + QString::number(code, kHexBase).rightJustified(2, u'0');
        else if (code <= 0xffff)
            shown +=
                QStringLiteral("\\u") + QString::number(code, kHexBase).rightJustified(4, u'0');
        else
            shown +=
                QStringLiteral("\\U") + QString::number(code, kHexBase).rightJustified(8, u'0');
    }
    return shown;
}
