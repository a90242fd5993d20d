// The library's own version: zelkor_version reports it and the build names the shared object after it.
#ifndef ZELKOR_VERSION_H
#define ZELKOR_VERSION_H

#define ZELKOR_VERSION_MAJOR 1
#define ZELKOR_VERSION_MINOR 0

#endif
