// The core's entry points to the configuration page engine that need no open handle: support-file and
// schema resolution, XML-to-XML resolution of a user's document, manufacturing XML validation, and the
// engine's switches.
#include "config/binaryToXml.h"
#include "config/engineState.h"
#include "config/stamps.h"
#include "config/xmlParser.h"
#include "config/xmlRaii.h"
#include "config/xmlScratch.h"
#include "config/xsdParser.h"
#include "core/supportFiles.h"
#include "core/zelkorCore.h"
#include "core/zelkorInternal.h"

#include <libxml/parser.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <strings.h>
#include <optional>
#include <string>
#include <vector>

extern "C" {
ZELKOR_API char gXmlName[ZELKOR_XML_NAME_SIZE] = {};
}

namespace {

using namespace pageengine;

using zelkorcore::kFailure;
using zelkorcore::kInvalidArgument;
using zelkorcore::kModule;
using zelkorcore::kNoMemory;
using zelkorcore::Trace;

constexpr std::size_t kCommandLineLimit = 4096;
constexpr ZELKOR_STATUS kSchemaInvalid = 36;
constexpr ZELKOR_STATUS kBadName = 40;
constexpr ZELKOR_STATUS kParseFailed = 41;
constexpr ZELKOR_STATUS kXmlNotFound = 60;
constexpr ZELKOR_STATUS kXsdNotFound = 61;

__attribute__((format(printf, 3, 4))) void logLine(const char* function, uint32_t level, const char* format, ...) {
    char text[1024] = {};
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    zelkor_messageLog(kModule, function, ZELKOR_LOG_CORE, level, 1, "%s", text);
}

__attribute__((format(printf, 1, 2))) void print(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::fflush(stdout);
}

const SupportLookupTexts kCoreLookup{
    .module = kModule,
    .function = nullptr,
    .type = ZELKOR_LOG_CORE,
    .refusesDirectories = true,
    .capacity = ZELKOR_XML_NAME_SIZE,
    .directoryRefused = {"File not found at specified location", nullptr},
    .unset = "ZELKOR_SUPPORT_FILES Environmental variable is not populated **** FAILED ****",
    .announce = nullptr,
    .tooLong = "Allocating memory of %d bytes **** FAILED ****",
    .notFound = {"File not found at ZELKOR_SUPPORT_FILES environmental variable location.", nullptr},
    .found = nullptr,
};
static_assert(sizeof(ZELKOR_SHARED_VARS::supportPath) == ZELKOR_XML_NAME_SIZE,
              "the XSD path and the XML path take buffers of one size");

// The file zelkor_xml2xml wrote last, by device and inode: only that file skips the stamps again.
struct WrittenFile {
    bool set = false;
    dev_t device = 0;
    ino_t inode = 0;
};
WrittenFile gIsUSEAttribProcessed;

void markResolved(const char* path) {
    struct stat info {};
    if (stat(path, &info) == 0 && S_ISREG(info.st_mode))
        gIsUSEAttribProcessed = {true, info.st_dev, info.st_ino};
    else
        gIsUSEAttribProcessed = {};
}

// The XSD's placement relative to the XML: a bare name or one that begins with '.' (and holds no ':') is
// taken from the XML file's directory; any other name as it stands.
std::string placeSchema(const std::string& xmlPath, const std::string& schema) {
    const bool relative = schema.find(':') == std::string::npos &&
                          (schema.front() == '.' || schema.find_first_of("/\\") == std::string::npos);
    if (!relative)
        return schema;
    std::size_t cut = xmlPath.rfind('/');
    if (cut == std::string::npos)
        cut = xmlPath.rfind('\\');
    if (cut == std::string::npos)
        return schema;
    return xmlPath.substr(0, cut + 1) + schema;
}

ZELKOR_STATUS xsdFromSupportFiles(const char* function, const std::string& name, uint8_t quiet) {
    std::string path;
    if (lookupSupportFile(name.c_str(), kCoreLookup, function, path) != 0 ||
        !copyBounded(gSharedVars.supportPath, sizeof gSharedVars.supportPath, path)) {
        print("ERROR: XSD file not found\n");
        logLine(function, ZELKOR_LOG_ERROR, "XSD file not found");
        return kXsdNotFound;
    }
    if (!quiet)
        print("\nINFO: XSD is picked up from the Environment Variable path\n");
    return 0;
}

ZELKOR_STATUS resolveXmlAndXsd(const char* function, const char* xmlName, const char* xsdName, uint8_t quiet) {
    logLine(function, ZELKOR_LOG_INFO, "Initializing the XML Library");
    xmlInitParser();
    if (xmlName == nullptr) {
        logLine(function, ZELKOR_LOG_ERROR, "Invalid Arguments **** FAILED ****");
        return kInvalidArgument;
    }
    if (std::strlen(xmlName) >= kCommandLineLimit) {
        print("ERROR: CommandLine length should be less than %d characters \n", static_cast<int>(kCommandLineLimit));
        logLine(function, ZELKOR_LOG_ERROR, "CommandLine length should be less than %d characters ",
                static_cast<int>(kCommandLineLimit));
        return kFailure;
    }
    if (strIgnoreCaseStr(xmlName, ".xml") == nullptr) {
        print("ERROR : Invalid file name. xml file extension missing.\n");
        logLine(function, ZELKOR_LOG_ERROR, "Invalid file name. xml file extension missing");
        return kBadName;
    }
    std::string xmlPath;
    if (fileReadable(xmlName)) {
        xmlPath = xmlName;
        if (!quiet)
            print("\nINFO: XML is picked up from the specified location\n");
    } else if (lookupSupportFile(xmlName, kCoreLookup, function, xmlPath) == 0) {
        if (!quiet)
            print("\nINFO: XML is picked up from the Environment Variable path\n");
    } else {
        print("ERROR: XML file not found\n");
        logLine(function, ZELKOR_LOG_ERROR, "XML file not found");
        return kXmlNotFound;
    }
    copyBounded(gXmlName, sizeof gXmlName, xmlPath); // both lookups are bounded by this buffer's size

    if (xsdName != nullptr) {
        if (fileReadable(xsdName) && copyBounded(gSharedVars.supportPath, sizeof gSharedVars.supportPath, xsdName))
            return 0;
        return xsdFromSupportFiles(function, xsdName, quiet);
    }
    std::string schema;
    {
        XmlDocPtr document = readXmlFile(xmlPath.c_str());
        if (!document) {
            logLine(function, ZELKOR_LOG_ERROR, "Failed to parse %s", xmlPath.c_str());
            return kParseFailed;
        }
        std::optional<std::string> location = xmlProp(xmlDocGetRootElement(document.get()), "noNamespaceSchemaLocation");
        if (!location || location->empty()) {
            logLine(function, ZELKOR_LOG_ERROR, "Failed to obtain Xsd filename from XML filename");
            return kSchemaInvalid;
        }
        schema = *location;
    }
    const std::string placed = placeSchema(xmlPath, schema);
    if (fileReadable(placed.c_str()) &&
        copyBounded(gSharedVars.supportPath, sizeof gSharedVars.supportPath, placed)) {
        if (!quiet)
            print("\nINFO: XSD is picked up from the specified location\n");
        return 0;
    }
    return xsdFromSupportFiles(function, schema, quiet);
}

void logResolutionFailure(const char* function, ZELKOR_STATUS status) {
    logLine(function, ZELKOR_LOG_ERROR, "%s",
            status == kXmlNotFound   ? "Failed to retrieve XML file"
            : status == kXsdNotFound ? "Failed to retrieve XSD file"
                                     : "Failed to retrieve XML or XSD file");
}

// The resolved user document, parsed and valid under its XSD.
ZELKOR_STATUS parseValid(const char* function, const char* invalidLine, const char* parseFailedLine,
                         XmlDocPtr& document) {
    document = readXmlFile(gXmlName);
    if (!document) {
        logLine(function, ZELKOR_LOG_ERROR, parseFailedLine, gXmlName);
        return kParseFailed;
    }
    if (gSharedVars.supportPath[0] == '\0') {
        logLine(function, ZELKOR_LOG_ERROR, "XSD File name is not present in variable");
        return kFailure;
    }
    if (is_valid(document.get(), gSharedVars.supportPath) != 6) {
        logLine(function, ZELKOR_LOG_ERROR, "%s", invalidLine);
        return kSchemaInvalid;
    }
    return 0;
}

// A document's text as libxml2 writes it; false when it cannot be serialised.
bool serialise(xmlDoc* document, std::string& text) {
    xmlChar* bytes = nullptr;
    int size = 0;
    xmlDocDumpMemory(document, &bytes, &size);
    XmlCharPtr owned(bytes);
    if (bytes == nullptr || size < 0)
        return false;
    text.assign(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(size));
    return true;
}

// Writes a whole text to a file; every write and the close must succeed.
bool writeWhole(const char* path, const std::string& text, const char* mode) {
    FILE* file = std::fopen(path, mode);
    if (file == nullptr)
        return false;
    bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    written = std::fflush(file) == 0 && written;
    return std::fclose(file) == 0 && written;
}

mode_t currentUmask() {
    mode_t mask = umask(0);
    umask(mask);
    return mask;
}

bool isRegularOrAbsent(const char* path) {
    struct stat info {};
    if (stat(path, &info) != 0)
        return true;
    return S_ISREG(info.st_mode);
}

// The result goes beside outName and replaces it only once it is whole, so that a failure leaves outName
// (which may be the user's input) as it was. A path that is not a regular file is written directly.
ZELKOR_STATUS writeResult(const char* function, const char* outName, const std::string& text) {
    if (!isRegularOrAbsent(outName)) {
        if (writeWhole(outName, text, "w"))
            return 0;
        print("Unable to open file :%s\n", outName);
        logLine(function, ZELKOR_LOG_ERROR, "Unable to open file : %s", outName);
        return kFailure;
    }
    std::string pattern = std::string(outName) + ".XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    int descriptor = mkstemp(name.data());
    if (descriptor < 0) {
        print("Unable to open file :%s\n", outName);
        logLine(function, ZELKOR_LOG_ERROR, "Unable to open file : %s", outName);
        return kFailure;
    }
    close(descriptor);
    struct stat original {};
    if (stat(outName, &original) == 0)
        chmod(name.data(), original.st_mode & 07777);
    else
        chmod(name.data(), 0666 & ~currentUmask());
    if (!writeWhole(name.data(), text, "w") || std::rename(name.data(), outName) != 0) {
        std::remove(name.data());
        print("Unable to open file :%s\n", outName);
        logLine(function, ZELKOR_LOG_ERROR, "Unable to open file : %s", outName);
        return kFailure;
    }
    return 0;
}

bool hasQueryStamp(xmlNode* node) {
    for (; node != nullptr; node = node->next) {
        if (!isElement(node))
            continue;
        std::optional<std::string> query = xmlProp(node, "QUERY");
        if (query && (*query == "TRUE" || *query == "true" || *query == "True"))
            return true;
        if (hasQueryStamp(node->children))
            return true;
    }
    return false;
}

uint32_t chipTypeOfProduct(const std::optional<std::string>& product) {
    if (!product)
        return 0;
    struct Row {
        const char* product;
        uint32_t chipType;
    };
    static constexpr Row kRows[] = {
        {"Ostrel", ZELKOR_CHIP_OSTREL}, {"Quenza", ZELKOR_CHIP_QUENZA}, {"Dax", ZELKOR_CHIP_QUENZA_DAX}};
    for (const Row& row : kRows)
        if (strcasecmp(product->c_str(), row.product) == 0)
            return row.chipType;
    return 0;
}

// The engine's handle for the length of one call: a record whose only service is the search, recorded
// for the engine and replaced by the previous handle at the end.
class EngineHandle {
  public:
    EngineHandle() : previous_(gPtrZelkorHandleXml) {
        record_.search = strIgnoreCaseStr;
        gPtrZelkorHandleXml = &record_;
    }
    ~EngineHandle() { gPtrZelkorHandleXml = previous_; }
    EngineHandle(const EngineHandle&) = delete;
    EngineHandle& operator=(const EngineHandle&) = delete;

  private:
    ZELKOR_INSTANCE record_{};
    ZELKOR_INSTANCE* previous_;
};

struct CleanParser {
    explicit CleanParser(const char* function) : function_(function) {}
    ~CleanParser() {
        logLine(function_, ZELKOR_LOG_INFO, "Cleaning the parsed XML file");
        zelkor_CleanXmlParser();
    }
    const char* function_;
};

ZELKOR_STATUS xml2xml(const char* fn, const char* xmlName, const char* xsdName, const char* outName,
                      QUERY_VALUE_CALLBACK queryCallback, uint32_t* outChipType) {
    if (xmlName == nullptr || outName == nullptr || outChipType == nullptr) {
        logLine(fn, ZELKOR_LOG_ERROR, "Invalid Arguments **** FAILED ****");
        return kInvalidArgument;
    }
    EngineHandle engineHandle;
    logLine(fn, ZELKOR_LOG_INFO, "Retrieving XML and XSD files");
    if (ZELKOR_STATUS status = resolveXmlAndXsd(fn, xmlName, xsdName, 0); status != 0) {
        logResolutionFailure(fn, status);
        return status;
    }
    CleanParser clean(fn);
    logLine(fn, ZELKOR_LOG_INFO, "Parsing XML file");
    XmlDocPtr document;
    if (ZELKOR_STATUS status =
            parseValid(fn, "Validating XML file as per schema **** FAILED ****", "Failed to Parse %s ", document);
        status != 0)
        return status;
    // The product decides the chip type; an unknown one is refused before anything is written.
    const uint32_t chipType = chipTypeOfProduct(xmlProp(xmlDocGetRootElement(document.get()), "Product"));
    if (chipType == 0) {
        logLine(fn, ZELKOR_LOG_ERROR, "Failed to retrieve product name from Xml file.");
        return kSchemaInvalid;
    }
    // The copy the stamps are resolved on is the document as written and read back.
    std::string text;
    if (!serialise(document.get(), text)) {
        logLine(fn, ZELKOR_LOG_ERROR, "Unable to open file : %s", outName);
        return kFailure;
    }
    XmlDocPtr copy = readXmlMemory(text, gXmlName);
    xmlNode* root = copy ? findXmlNode(copy.get(), "//MANUFACTURING") : nullptr;
    if (root == nullptr) {
        logLine(fn, ZELKOR_LOG_ERROR, "Failed to Parse %s ", outName);
        return kFailure;
    }
    const char* xsd = gSharedVars.supportPath;
    ZELKOR_STATUS status = 0;
    if (queryCallback != nullptr)
        status = searchQueryAttrib(root, copy.get(), queryCallback, nullptr, xsd);
    else if (hasQueryStamp(root))
        status = kInvalidArgument;
    if (status == 0)
        status = processUseAttrib(root, copy.get(), nullptr, xsd);
    if (status == 0)
        status = processFormatDecAttrib(root, copy.get(), nullptr, xsd);
    if (status != 0)
        return status;
    if (!serialise(copy.get(), text)) {
        logLine(fn, ZELKOR_LOG_ERROR, "Unable to open file : %s", outName);
        return kFailure;
    }
    if (ZELKOR_STATUS written = writeResult(fn, outName, text); written != 0)
        return written;
    markResolved(outName);
    *outChipType = chipType;
    return 0;
}

ZELKOR_STATUS upMfgXmlValidation(const char* fn, const char* xmlName, const char* xsdName) {
    EngineHandle engineHandle;
    logLine(fn, ZELKOR_LOG_INFO, "Retrieving XML and XSD files");
    if (ZELKOR_STATUS status = resolveXmlAndXsd(fn, xmlName, xsdName, 1); status != 0) {
        logResolutionFailure(fn, status);
        return status;
    }
    CleanParser clean(fn);
    logLine(fn, ZELKOR_LOG_INFO, "Parsing Xml file");
    XmlDocPtr document;
    if (ZELKOR_STATUS status =
            parseValid(fn, "Validating XML document as per schema **** FAILED ****", "Failed to Parse %s ", document);
        status != 0)
        return status;
    XmlScratch scratch;
    std::string copyPath;
    if (ZELKOR_STATUS status = getTemporaryFileName(scratch, copyPath, "xml"); status != 0) {
        logLine(fn, ZELKOR_LOG_ERROR, "Unable to get temporary name for intermediate file.");
        return status == kNoMemory ? kNoMemory : kFailure;
    }
    std::string text;
    if (!serialise(document.get(), text) || !writeWhole(copyPath.c_str(), text, "w")) {
        print("Unable to open file :%s\n", copyPath.c_str());
        logLine(fn, ZELKOR_LOG_ERROR, "Unable to open file :%s ", copyPath.c_str());
        return kFailure;
    }
    XmlDocPtr copy = readXmlFile(copyPath.c_str());
    xmlNode* root = copy ? findXmlNode(copy.get(), "//MANUFACTURING") : nullptr;
    if (root == nullptr) {
        logLine(fn, ZELKOR_LOG_ERROR, "Failed to Parse %s ", copyPath.c_str());
        return kFailure;
    }
    ZELKOR_STATUS status = processFormatDecAttrib(root, copy.get(), nullptr, gSharedVars.supportPath);
    if (status == 0 && saveDocument(copy.get(), copyPath.c_str()) != 0)
        status = kFailure;
    return status;
}

} // namespace

bool stampsResolvedByXml2xml(const char* path) {
    struct stat info {};
    return gIsUSEAttribProcessed.set && path != nullptr && stat(path, &info) == 0 && info.st_dev == gIsUSEAttribProcessed.device &&
           info.st_ino == gIsUSEAttribProcessed.inode;
}

extern "C" ZELKOR_STATUS zelkor_setVerboseFlag(void) {
    Trace trace("zelkor_setVerboseFlag");
    setVerboseON();
    return 0;
}

extern "C" ZELKOR_STATUS zelkor_setUnitFlag(void) {
    Trace trace("zelkor_setUnitFlag");
    setUnitON();
    return 0;
}

extern "C" ZELKOR_STATUS zelkor_setGeneralFlag(void) {
    Trace trace("zelkor_setGeneralFlag");
    setGeneralON();
    return 0;
}

extern "C" ZELKOR_STATUS zelkor_retrieveFileFromEnv(const char* name, char* outPath) {
    const char* fn = "zelkor_retrieveFileFromEnv";
    Trace trace(fn);
    if (name == nullptr || outPath == nullptr) {
        logLine(fn, ZELKOR_LOG_ERROR, "Invalid Arguments **** FAILED ****");
        return kInvalidArgument;
    }
    std::string path;
    ZELKOR_STATUS status = lookupSupportFile(name, kCoreLookup, fn, path);
    if (status == 0)
        copyBounded(outPath, ZELKOR_XML_NAME_SIZE, path);
    return status;
}

extern "C" ZELKOR_STATUS zelkor_retrieveXsdFromXml(const char* xmlName, const char* xsdName, uint8_t quiet) {
    const char* fn = "zelkor_retrieveXsdFromXml";
    Trace trace(fn);
    return resolveXmlAndXsd(fn, xmlName, xsdName, quiet);
}

extern "C" ZELKOR_STATUS zelkor_xml2xml(const char* xmlName, const char* xsdName, const char* outName,
                                        QUERY_VALUE_CALLBACK queryCallback, uint32_t* outChipType) {
    const char* fn = "zelkor_xml2xml";
    Trace trace(fn);
    try {
        return xml2xml(fn, xmlName, xsdName, outName, queryCallback, outChipType);
    } catch (const std::bad_alloc&) {
        return kNoMemory;
    }
}

extern "C" ZELKOR_STATUS zelkor_upMfgXmlValidation(const char* xmlName, const char* xsdName) {
    const char* fn = "zelkor_upMfgXmlValidation";
    Trace trace(fn);
    try {
        return upMfgXmlValidation(fn, xmlName, xsdName);
    } catch (const std::bad_alloc&) {
        return kNoMemory;
    }
}
