// Running the XML driver program in a scratch working directory of its own (with its own TMPDIR), watching
// that directory with inotify, and the independent checks the tests apply to what it wrote: a page walker
// of region images and xmllint.
#ifndef TESTS_XML_DRIVER_SUPPORT_H
#define TESTS_XML_DRIVER_SUPPORT_H

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace xmltest {

struct RunResult {
    std::string output; // standard output and standard error together
    int exitCode = -1;
    // Names in the working directory that were created, deleted or moved while the driver ran.
    std::vector<std::string> created;
    std::vector<std::string> deleted;
    std::vector<std::string> movedFrom;
    std::vector<std::string> movedTo;
};

class Workspace {
  public:
    Workspace();
    ~Workspace();
    const std::string& dir() const { return dir_; }
    const std::string& tmpDir() const { return tmp_; }
    std::string file(const std::string& name) const { return dir_ + "/" + name; }
    // Copies a fixture into the working directory (or below it, under the name given).
    void fixture(const std::string& name, const std::string& as = "");
    void write(const std::string& name, const std::string& text) const;
    std::string read(const std::string& name) const;
    bool exists(const std::string& name) const;
    // Entries of TMPDIR; empty after every run.
    std::vector<std::string> tmpEntries() const;

    // Runs the driver with these steps; support: ZELKOR_SUPPORT_FILES (unset when nothing); tmpDir: TMPDIR
    // in place of the workspace's own.
    RunResult run(const std::vector<std::string>& steps, std::optional<std::string> support = std::nullopt,
                  std::optional<std::string> tmpDir = std::nullopt) const;

  private:
    std::string dir_;
    std::string tmp_;
};

// The result line of the n-th step of this name ("xml2bin status=0" -> 0); -1 when absent.
long stepStatus(const std::string& output, const std::string& step, int occurrence = 0);
// Every result line of a step name, in order.
std::vector<long> stepStatuses(const std::string& output, const std::string& step);

struct WalkedPage {
    uint16_t id;
    std::vector<uint8_t> data;
};
// Walks a region image by the format alone: region header, then page headers (flags, additive checksum,
// reserved bytes, length, id) until the end or a length of 0 or 0xFFFF. Adds a test failure for any
// header that is not as the format says.
std::vector<WalkedPage> walkImage(const std::vector<uint8_t>& image);
std::vector<uint8_t> bytesOf(const std::string& text);

// xmllint's verdicts.
bool schemaValid(const std::string& document, const std::string& schema);
std::string canonicalForm(const std::string& document); // xmllint --c14n

std::string fixturePath(const std::string& name);

} // namespace xmltest

#endif
