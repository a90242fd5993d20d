// Opening an output file the library writes on the user's behalf (the log): only a regular file, reached
// without following a symbolic link, never blocking on a FIFO and never inherited by a child process.
#ifndef OSAL_FILE_H
#define OSAL_FILE_H

#include <cstdio>

// Opens path for writing: created when missing; an existing file is emptied (truncate) or appended to.
// Anything but a regular file (a symbolic link, a directory, a FIFO, a device) is refused before a byte is
// written or truncated. Returns the stream, or null when the file was refused or could not be opened.
FILE* osal_openRegularFileForWrite(const char* path, bool truncate);

#endif
