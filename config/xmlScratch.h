// The scratch directory of one XML conversion: every intermediate document lives in it, and it goes, whole,
// when the conversion ends, whichever way it ends. Nothing else of a conversion touches the current directory
// or names a file another process could have planted.
#ifndef CONFIG_XML_SCRATCH_H
#define CONFIG_XML_SCRATCH_H

#include "core/zelkor.h"

#include <string>

namespace pageengine {

class XmlScratch {
  public:
    // A fresh directory (mode 0700) under $TMPDIR, or /tmp when that is unset or empty.
    XmlScratch();
    ~XmlScratch();
    XmlScratch(const XmlScratch&) = delete;
    XmlScratch& operator=(const XmlScratch&) = delete;

    bool ready() const { return !directory_.empty(); }
    const std::string& directory() const { return directory_; }
    // A path inside the directory that no earlier call handed out.
    std::string path(const std::string& stem, const char* extension);

  private:
    std::string directory_;
    unsigned counter_ = 0;
};

// A name for an intermediate file: stem, '.', extension, inside the scratch directory. 0; 1 a null
// extension or no scratch directory; 6 out of memory.
ZELKOR_STATUS getTemporaryFileName(XmlScratch& scratch, std::string& out, const char* extension,
                                   const char* stem = "intermediate");

// Test hook: called with the directory just before a scratch directory is removed. Null: none.
using ScratchObserver = void (*)(const std::string& directory);
void setScratchObserver(ScratchObserver observer);

} // namespace pageengine

#endif
