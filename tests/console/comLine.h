// The product's serial port opened on a path at 38400 8N1 (post-write delay as given), with the console's
// line over it: what the command-line module uses, for tests and benchmarks on a pseudo-terminal.
#ifndef TESTS_CONSOLE_COM_LINE_H
#define TESTS_CONSOLE_COM_LINE_H

#include "ial/cliPort.h"

#include <string>

class OpenComLine {
  public:
    explicit OpenComLine(const std::string& path, uint32_t postWriteDelayUs = 0) {
        if (port_.open(path.c_str()) == 0 && port_.configure(CliPortSettings{8, 8, 1, 0, 0, postWriteDelayUs}) == 0)
            ok_ = true;
    }
    bool ok() const { return ok_; }
    SerialLine& line() { return port_.line(); }

  private:
    ComPort port_;
    bool ok_ = false;
};

#endif
