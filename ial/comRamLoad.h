// Loading programs into the expander's internal RAM through the boot-ROM monitors, for the debug-port
// module. Internal to the library.
#ifndef ZELKOR_COM_RAM_LOAD_H
#define ZELKOR_COM_RAM_LOAD_H

#include "ial/comInstance.h"

#include <cstdio>

// Stops the ARM, loads the image (or the family's bootstrap when none is given) from RAM address 0,
// optionally reads it back, points the boot address at RAM, clears the bad-signature flag and starts the
// ARM. 0; 1 on any failure; 4 or 5 for a missing instance part.
ZELKOR_STATUS doHws115200(COM_INSTANCE* instance, FILE* image, uint8_t postValidate);
// The word-by-word load: 0; 1 no instance; 2 no port or record; 3 wrong register operation; 4 file not
// found; 7 no memory; 8 file read failed; 9 word write failed; 10 support-file variable unset; 11 flush.
ZELKOR_STATUS downloadImageInRam(COM_INSTANCE* instance, uint32_t secondary, FILE* image);
// 0 when RAM holds the words the image sent; non-zero otherwise.
ZELKOR_STATUS postValidateRamdebugImage(COM_INSTANCE* instance, FILE* image);
// Clears the enable bits of both family Quenza watchdog controls: 0, 1, 4 or 5.
ZELKOR_STATUS disableWatchdog(COM_INSTANCE* instance);

#endif
