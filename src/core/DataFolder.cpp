#include "DataFolder.h"

#include "uCertwrightCommon.h"
#include "uExportFolder.h"
#include "uFreshFile.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Acme {

namespace {

const QString kFolderMessage =
    QStringLiteral("The folder \"%1\" cannot be used for this program's data: %2.");
const QString kSharedDataFolderMessage = QStringLiteral(
    "The folder \"%1\" cannot be used for this program's data: %2. Other users could take the "
    "keys kept there. Please let only yourself change it and the folders above it, or set "
    "XDG_DATA_HOME to a folder that only you can change.");
const QString kNotOwnFolderReason =
    QStringLiteral("it is not a folder of your own (or it is a link)");

const QString kAcmeFolderName = QStringLiteral("acme");
const QString kDataFolderName = QStringLiteral("certwright/");

} // namespace

QString privateDataFolder(const QString& name) {
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    const QString program = withTrailingSeparator(base) + kDataFolderName;
    const QString folder = program + name;
    QDir().mkpath(base);
    constexpr mode_t kPrivateFolderMode = 0700;
    for (const QString& path : {program, folder}) {
        const QByteArray encoded = QFile::encodeName(path);
        if (::mkdir(encoded.constData(), kPrivateFolderMode) != 0 && errno != EEXIST)
            throw PageError(kFolderMessage.arg(path, QString::fromLocal8Bit(std::strerror(errno))));
        const Descriptor opened(
            ::open(encoded.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        struct stat status {};
        if (opened.fd < 0 || ::fstat(opened.fd, &status) != 0 || !S_ISDIR(status.st_mode) ||
            status.st_uid != ::geteuid())
            throw PageError(kFolderMessage.arg(path, kNotOwnFolderReason));
        if ((status.st_mode & 07777) != kPrivateFolderMode &&
            ::fchmod(opened.fd, kPrivateFolderMode) != 0)
            throw PageError(kFolderMessage.arg(path, QString::fromLocal8Bit(std::strerror(errno))));
    }
    // Every folder above must be closed to other users as well: one who may rename a folder on
    // the way could put another in its place while lego writes the keys.
    return requirePrivateFolder(folder, QString(), kSharedDataFolderMessage).path();
}

QString dataFolderPath(const QString& name) {
    const QString base =
        QDir::cleanPath(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation));
    return withTrailingSeparator(withTrailingSeparator(base) + kDataFolderName + name);
}

QString stateFolder() {
    return privateDataFolder(kAcmeFolderName);
}

} // namespace Acme
