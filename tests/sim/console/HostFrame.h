// The frame a product set on a simulated serial line: the speed from the terminal (tcgetattr on the
// master shows the slave's) and the data bits, parity and stop bits from the preload's record of the
// product's last tcsetattr, since a pseudo-terminal itself keeps only 8 bits without parity.
#ifndef ZSIM_HOST_FRAME_H
#define ZSIM_HOST_FRAME_H

#include "console/LineEndpoint.h"

#include <string>

namespace zsim {

// Speed 0 when the terminal's speed is not one of the standard rates or cannot be read; 8N1 where the
// preload has no record.
UartFrame hostFrame(int master, int slave);

// "speed=38400 bits=7 parity=none stop=1", as the preload records a frame.
std::string frameText(const UartFrame& frame);

} // namespace zsim

#endif
