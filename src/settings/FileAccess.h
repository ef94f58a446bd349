#pragma once

#include "Expected.h"

#include <QByteArray>
#include <QString>

namespace kalvora {

// Whether the last part of a path may be a symbolic link. The bed files may
// not be one: in a folder that the ward's group shares, a link planted by one
// member would make another member's console read or replace a file of theirs.
// Pictures, sounds and the settings file may (an administrator may keep them
// elsewhere); what the link leads to must still be a regular file.
enum class Links { Refuse, Follow };

// What reading a file found.
enum class ReadProblem {
    None,
    CannotOpen, // missing, no access, ...: `error` says why
    Link, // a symbolic link where links are refused
    NotRegular, // a folder, FIFO, socket or device
    TooLarge, // more bytes than the reader takes
    ReadFailed, // opened, but reading failed: `error` says why
};

struct FileRead {
    QByteArray bytes;
    ReadProblem problem = ReadProblem::None;
    int error = 0; // errno, for CannotOpen and ReadFailed (EISDIR for a folder)
    qint64 size = 0; // as the opened file reported it
    qint64 modifiedNs = 0; // modification time, nanoseconds since the epoch

    bool ok() const { return problem == ReadProblem::None; }
    bool missing() const;
};

// Reads a whole file that is a regular file of at most maxBytes. It looks at
// the file before opening it and checks the opened descriptor again, and
// opens without blocking: a FIFO, socket or device (or a link to one) is
// never read from, so it can neither hang the console nor fill its memory.
FileRead readRegularFile(const QString &path, qint64 maxBytes, Links links);

// The error text of a failed read, naming the file's absolute path:
//   Cannot open file "<path>". <reason>     (Is a symbolic link, Is not a
//   regular file, File too large, or the system's reason)
//   Cannot read file "<path>". <reason>
QString readFailureText(const QString &path, const FileRead &read);

// Replaces a file with new content. The new content goes to a file created
// beside it (unnamed where the file system allows it, else under a fresh name
// made with O_EXCL), is synced, takes the old file's mode and, where the user
// may, its group, and is then renamed over the old file: a crash or a full
// disk leaves the old file or the whole new one. Nothing is written through a
// symbolic link or into anything but a regular file: a link, folder or special
// file in the file's place is an error. A file that the user may not write is
// not replaced either.
//
// Where the folder cannot be written but the file can, the file is rewritten
// in place instead: room for the new content is reserved first, so a full
// disk leaves the old content untouched; a write that still fails puts the old
// content back where it can.
//
// Errors:  Cannot create file "<path>". <reason>
Status replaceFile(const QString &path, const QByteArray &bytes);

} // namespace kalvora
