// The SMP target of the simulated enclosure: each expander is also a bsg node, /dev/bsg/expander-N:0
// (its sysfs entry /sys/class/bsg/expander-N:0/dev), that takes SMP frames through SG_IO version 4 the way
// the kernel's SAS transport passes them to an expander: REPORT GENERAL and DISCOVER, answered from the same
// model data the memory window shows.
#ifndef ZSIM_SMP_H
#define ZSIM_SMP_H

#include "model/Expander.h"

#include <string>

namespace zsim {

enum class BsgPath { None, SysfsDev, Node };

// Which bsg path this is and the expander number N it names.
BsgPath classifyBsg(const std::string& normalPath, int* number);

// The major number of bsg nodes: the host's own (from /proc/devices), else 248.
unsigned bsgMajor();

// What the sysfs dev attribute of expander N reads: "MAJOR:N\n".
std::string bsgDevText(int number);

// Carries out one SG_IO v4 request (guard 'Q', SCSI transport subprotocol) on the expander. Returns 0 or
// the errno the ioctl fails with; describe receives the trace fields.
int smpRequest(const Expander& expander, void* request, std::string* describe);

} // namespace zsim

#endif
