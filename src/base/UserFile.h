#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// A file that the user named, opened so that nothing put at its name can hold the program up
// or be read in its place: the name is opened without waiting (a FIFO never blocks), and only
// what was opened is judged, never what the name named a moment before.
namespace UserFile {

struct Limits {
    qint64 largestBytes = 0;  // a larger file is refused; 0: any size
    bool followLinks = true;  // false: a link at the name is refused
    bool ownedByUser = false; // true: only a file of this program's own user is taken
};

enum class Refusal {
    None,
    System,     // it cannot be opened or read: the error number says why
    NotRegular, // it is a FIFO, a device, a folder, or a link that was not to be followed
    TooLarge,
    NotOwned,
};

// Why a file was refused.
struct Failure {
    Refusal refusal = Refusal::None;
    int error = 0; // the errno of Refusal::System
    // The system's words for the error, for the texts of the callers.
    QString systemReason() const;
};

// An open descriptor of the regular file at the path within the limits (its size not judged),
// which the caller closes; -1 with the failure set otherwise.
int open(const QString& path, const Limits& limits, Failure* failure);

// The whole content of the regular file at the path within the limits; nothing, with the
// failure set, otherwise. A file that grows past the largest size while it is read is refused.
std::optional<QByteArray> read(const QString& path, const Limits& limits, Failure* failure);

} // namespace UserFile
