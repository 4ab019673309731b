#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

#include <cstddef>
#include <sys/types.h>
#include <unistd.h>

// A file descriptor that is closed when it goes out of scope.
class Descriptor {
  public:
    explicit Descriptor(int descriptor) : fd(descriptor) {}
    ~Descriptor() {
        if (fd >= 0)
            ::close(fd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    const int fd;
};

// The mode of every file that this program makes for itself: they may hold secrets (pass
// phrases, a pasted private key), so only their owner may read them.
constexpr mode_t kFreshFileMode = 0600;

// Puts a new file of mode kFreshFileMode holding the bytes under the name in the folder open
// as folderFd (AT_FDCWD for a path), so that nobody else's file is ever written instead:
// whatever stands at the name is removed first and never followed, the file is created new,
// and the content goes through that one descriptor. Async-signal-safe. Returns 0, or the errno
// of the step that failed (a file whose writing failed is removed again).
int writeFreshFileAt(int folderFd, const char* name, const char* bytes, std::size_t size) noexcept;

// The same for a file named by its path.
int writeFreshFile(const QString& path, const QByteArray& content);

// Puts the bytes under the path in place of whatever file stands there, so that nothing is lost
// on the way: they go into a new file of mode kFreshFileMode beside it (made fresh, never through
// a link) and are on disk before that file is renamed over the path. A failure anywhere leaves
// the earlier file as it was and no new file. Whether the earlier file may be replaced at all is
// the caller's question. Returns 0, or the errno of the step that failed.
int replaceFileWhole(const QString& path, const QByteArray& content);

// A folder of this program's own for the files that it writes for the tool alone (a chain of
// pasted certificates, what a check reads back): made new in the system's folder for temporary
// files with mode 0700, so that no other user may enter it, and removed with everything in it
// when the object ends. Nothing in it bears a name that a file of the user's could have.
class ScratchFolder {
  public:
    // Throws PageError when the folder cannot be made.
    ScratchFolder();
    // The folder's path, ending in a separator.
    QString path() const { return folder.path() + QLatin1Char('/'); }
    // The path of a file of the name in the folder.
    QString file(const QString& name) const { return path() + name; }
    // Writes a fresh file of the name (writeFreshFile); throws PageError when it cannot.
    void write(const QString& name, const QByteArray& content) const;

  private:
    QTemporaryDir folder;
};

// The same for a name that must be free: the new file takes the name only if nothing stands
// there by then, and is removed again otherwise (EEXIST). For a file that the user did not agree
// to replace, whatever may have appeared meanwhile.
int placeFileWhole(const QString& path, const QByteArray& content);
