// The serial-line part of the preload, as the open interposition reaches it.
#ifndef ZSIM_SERIAL_LINE_H
#define ZSIM_SERIAL_LINE_H

namespace zsim {

// True when the path is the one the test chose to refuse with EACCES.
bool serialOpenDenied(const char* path);

} // namespace zsim

#endif
