#include "hal/zelkorHalXml.h"

#include "config/binaryToXml.h"
#include "config/engineState.h"
#include "config/mfgRegion.h"
#include "config/stamps.h"
#include "config/xmlBuilders.h"
#include "config/xmlParser.h"
#include "config/xmlRaii.h"
#include "config/xmlScratch.h"
#include "config/xsdParser.h"
#include "core/zelkorInternal.h"
#include "hal/zelkorHalCommon.h"

#include <libxml/parser.h>

#include <sys/stat.h>

#include <cstdio>
#include <optional>
#include <string>

namespace {

using namespace pageengine;

constexpr ZELKOR_STATUS XML_BAD_NAME = 40;
constexpr ZELKOR_STATUS XML_PARSE_FAILED = 41;
constexpr ZELKOR_STATUS XML_ROOT_ATTRIBUTE_MISSING = 36;
constexpr ZELKOR_STATUS XML_XSD_NOT_FOUND = 53;

constexpr const char* FN_XML2BIN = "zelkor_hal_xml2bin";
constexpr const char* FN_BIN2XML = "zelkor_hal_bin2xml";

// What one conversion finds and makes; it lives for one call.
struct Conversion {
    const HalFamily& family;
    const HalXmlRoute& route;
    ZELKOR_INSTANCE* handle;
    const char* function;
    std::string gXmlFileName; // the user's (or template) XML as found
    std::string xsdPath;
    XmlDocPtr user;
    std::string gStrProductName;
    std::string gStrSchemaVersion;
    XmlScratch scratch;

    template <typename... Args> void log(uint32_t level, const char* format, Args... args) const {
        if (format != nullptr)
            halLog(family, handle, function, level, format, args...);
    }
    void logText(uint32_t level, const char* text) const {
        if (text != nullptr)
            halLog(family, handle, function, level, "%s", text);
    }
};

void printLine(const char* format, const char* value = "") {
    std::printf(format, value);
    std::fflush(stdout);
}

bool contains(const Conversion& c, const char* text, const char* needle) {
    SEARCH_FUNCTION search = c.handle != nullptr && c.handle->search != nullptr ? c.handle->search : strIgnoreCaseStr;
    return search(text, needle) != nullptr;
}

// The option block's XSD name, when one is set.
const char* optionXsd(const Conversion& c) {
    const char* name = c.handle != nullptr ? c.handle->xsdPath : nullptr;
    return name != nullptr && *name != '\0' ? name : nullptr;
}

bool nameAccepted(const Conversion& c, const char* xmlPath) {
    if (contains(c, xmlPath, c.route.nameNeedle))
        return true;
    printLine("%s", c.route.badNameMessage);
    c.logText(ZELKOR_LOG_ERROR, c.route.badNameLog != nullptr ? c.route.badNameLog : c.route.badNameMessage);
    return false;
}

// The user's XML: the name check, then the file as given, else the support-file lookup. The family of
// static pages checks the name before it starts the XML library, the other after.
ZELKOR_STATUS locateXml(Conversion& c, const char* xmlPath) {
    const HalXmlRoute& r = c.route;
    const bool nameFirst = r.route == HalPepperedRoute::Static;
    if (nameFirst && !nameAccepted(c, xmlPath))
        return XML_BAD_NAME;
    c.logText(ZELKOR_LOG_INFO, "Initializing the XML Library");
    xmlInitParser();
    if (!nameFirst && !nameAccepted(c, xmlPath))
        return XML_BAD_NAME;
    c.log(ZELKOR_LOG_INFO, r.checkingXml, xmlPath);
    if (fileReadable(xmlPath)) {
        c.gXmlFileName = xmlPath;
        return 0;
    }
    c.log(ZELKOR_LOG_INFO, r.xmlNotHere, xmlPath);
    c.log(ZELKOR_LOG_INFO, r.checkingSupportXml, xmlPath);
    return lookupSupportFile(xmlPath, *r.xmlLookup, r.xmlLookupFunction != nullptr ? r.xmlLookupFunction : c.function,
                             c.gXmlFileName);
}

// The XSD of a family whose pages the XSD fixes: the option block's name, the third argument or the schema
// location, in the current directory or under the support directory.
ZELKOR_STATUS locateXsdOfStaticPages(Conversion& c, const char* third) {
    c.logText(ZELKOR_LOG_INFO, "Reading the Schema file");
    std::string name;
    if (const char* option = optionXsd(c))
        name = option;
    else if (third != nullptr && *third != '\0')
        name = third;
    else if (std::optional<std::string> location = xmlProp(xmlDocGetRootElement(c.user.get()),
                                                           "noNamespaceSchemaLocation");
             location && !location->empty())
        name = *location;
    else {
        c.logText(ZELKOR_LOG_ERROR, "Reading the Shema file **** FAILED **** ");
        return XML_ROOT_ATTRIBUTE_MISSING;
    }
    if (fileReadable(name.c_str())) {
        c.xsdPath = name;
        return 0;
    }
    c.log(ZELKOR_LOG_INFO, c.route.xsdNotHere, name.c_str());
    c.logText(ZELKOR_LOG_INFO, c.route.checkingSupportXsd);
    ZELKOR_STATUS status = lookupSupportFile(name.c_str(), *c.route.xsdLookup, c.function, c.xsdPath);
    if (status == 0)
        c.log(ZELKOR_LOG_INFO, "'%s' Schema file with complete PATH", c.xsdPath.c_str());
    return status;
}

// The XSD of a family of dynamic pages: the option block's name only.
ZELKOR_STATUS locateXsdOfDynamicPages(Conversion& c) {
    const char* option = optionXsd(c);
    if (option == nullptr) {
        c.logText(ZELKOR_LOG_ERROR, "XSD File name is not present in variable");
        return 1;
    }
    c.logText(ZELKOR_LOG_INFO, "Reading the Schema file");
    if (!fileReadable(option)) {
        c.log(ZELKOR_LOG_ERROR, "%s file not found", option);
        return XML_XSD_NOT_FOUND;
    }
    c.xsdPath = option;
    return 0;
}

// The dynamic-page family's XML and XSD.
ZELKOR_STATUS retrieveXsdFromXml(Conversion& c, const char* xmlPath) {
    ZELKOR_STATUS status = locateXml(c, xmlPath);
    return status != 0 ? status : locateXsdOfDynamicPages(c);
}

ZELKOR_STATUS locateAndParse(Conversion& c, const char* xmlPath, const char* third) {
    const bool dynamic = c.route.route == HalPepperedRoute::Dynamic;
    if (dynamic) {
        c.logText(ZELKOR_LOG_INFO, "Retrieving XML and XSD files");
        if (ZELKOR_STATUS status = retrieveXsdFromXml(c, xmlPath); status != 0) {
            c.logText(ZELKOR_LOG_ERROR, "Failed to retrieve XML and XSD files");
            return status;
        }
    } else if (ZELKOR_STATUS status = locateXml(c, xmlPath); status != 0) {
        return status;
    }
    c.log(ZELKOR_LOG_INFO, c.route.parsingXml, c.gXmlFileName.c_str());
    c.user = readXmlFile(c.gXmlFileName.c_str());
    if (!c.user || xmlDocGetRootElement(c.user.get()) == nullptr) {
        c.log(ZELKOR_LOG_ERROR, c.route.parsingXmlFailed, c.gXmlFileName.c_str());
        return XML_PARSE_FAILED;
    }
    return dynamic ? 0 : locateXsdOfStaticPages(c, third);
}

// Product and, for the way back, SchemaVersion of the user's root.
ZELKOR_STATUS readRootAttributes(Conversion& c, bool withVersion) {
    xmlNode* root = xmlDocGetRootElement(c.user.get());
    std::optional<std::string> product = xmlProp(root, "Product");
    if (!product) {
        c.logText(ZELKOR_LOG_ERROR, "Failed to retrieve product name from Xml file.");
        return XML_ROOT_ATTRIBUTE_MISSING;
    }
    c.gStrProductName = *product;
    if (!withVersion)
        return 0;
    std::optional<std::string> version = xmlProp(root, "SchemaVersion");
    if (!version) {
        c.logText(ZELKOR_LOG_ERROR, "Failed to retrieve schema version from Xml file.");
        return XML_ROOT_ATTRIBUTE_MISSING;
    }
    c.gStrSchemaVersion = *version;
    return 0;
}

// stem names the document for whoever reads the scratch directory: copy, default, complete, peppered.
ZELKOR_STATUS temporaryName(Conversion& c, std::string& out, const char* stem) {
    ZELKOR_STATUS status = getTemporaryFileName(c.scratch, out, "xml", stem);
    if (status != 0)
        c.logText(ZELKOR_LOG_ERROR, "Unable to get temporary name for intermediate file.");
    return status;
}

// The user's document copied through a file of its own, with its stamps resolved unless the core's
// XML-to-XML operation wrote this very file.
ZELKOR_STATUS resolvedCopy(Conversion& c, ConversionSchema& schema, XmlDocPtr& copy) {
    std::string copyPath;
    if (ZELKOR_STATUS status = temporaryName(c, copyPath, "copy"); status != 0)
        return status;
    if (saveDocument(c.user.get(), copyPath.c_str()) != 0) {
        printLine("Unable to open file :%s\n", copyPath.c_str());
        c.log(ZELKOR_LOG_ERROR, "Opening %s file **** FAILED ****", copyPath.c_str());
        return 1;
    }
    copy = readXmlFile(copyPath.c_str());
    if (!copy) {
        c.log(ZELKOR_LOG_ERROR, "Parsing %s XML file **** FAILED ****", copyPath.c_str());
        return 1;
    }
    if (!c.route.resolvesStamps || stampsResolvedByXml2xml(c.gXmlFileName.c_str()))
        return 0;
    xmlNode* root = findXmlNode(copy.get(), "//MANUFACTURING");
    if (root == nullptr)
        return XML_BAD_NAME;
    if (ZELKOR_STATUS status = processUseAttrib(root, copy.get(), nullptr, schema); status != 0)
        return status;
    return processFormatDecAttrib(root, copy.get(), nullptr, schema);
}

// The peppered document of the user's pages; recordPages lists them for the way back.
ZELKOR_STATUS buildPeppered(Conversion& c, uint8_t recordPages, std::string& peppered) {
    c.logText(ZELKOR_LOG_INFO, c.route.creatingPeppered);
    if (ZELKOR_STATUS status = temporaryName(c, peppered, "peppered"); status != 0)
        return status;
    if (c.route.route == HalPepperedRoute::Static) {
        ZELKOR_STATUS status = createPepperedXml(c.xsdPath.c_str(), c.user.get(), peppered.c_str(), recordPages);
        if (status != 0)
            c.logText(ZELKOR_LOG_ERROR, c.route.binaryFailed);
        return status;
    }
    if (c.gStrProductName == "Ostrel") {
        // The direct build for a document of the family whose pages the XSD fixes; its failure is 1.
        if (createPepperedXml(c.xsdPath.c_str(), c.user.get(), peppered.c_str(), recordPages) == 0)
            return 0;
        c.logText(ZELKOR_LOG_ERROR, recordPages != 0 ? "Failed to create peppered xml"
                                                     : "Creating peppered XML **** FAILED ****");
        return 1;
    }
    // The XSD is compiled once, by the first step that reads it, for every step of the conversion.
    ConversionSchema schema(c.xsdPath);
    XmlDocPtr copy;
    if (recordPages == 0) {
        if (ZELKOR_STATUS status = resolvedCopy(c, schema, copy); status != 0)
            return status;
    }
    xmlDoc* merged = copy ? copy.get() : c.user.get();
    std::string defaults, complete;
    if (ZELKOR_STATUS status = temporaryName(c, defaults, "default"); status != 0)
        return status;
    if (ZELKOR_STATUS status = xsdCreateDefaultXml(schema, defaults.c_str()); status != 0) {
        c.logText(ZELKOR_LOG_ERROR, "Failed to create default xml file");
        c.logText(ZELKOR_LOG_ERROR, "Failed to create complete xml file");
        return status;
    }
    c.logText(ZELKOR_LOG_INFO, "Successfully created default xml file");
    if (ZELKOR_STATUS status = temporaryName(c, complete, "complete"); status != 0)
        return status;
    if (ZELKOR_STATUS status = comCreateCompleteXml(defaults.c_str(), merged, complete.c_str(), nullptr);
        status != 0) {
        c.logText(ZELKOR_LOG_ERROR, "Failed to create complete xml file");
        return status;
    }
    c.logText(ZELKOR_LOG_INFO, "Successfully created complete xml file");
    ZELKOR_STATUS status = defCreatePepperedXml(schema, complete.c_str(), peppered.c_str(), recordPages);
    if (status != 0)
        c.logText(ZELKOR_LOG_ERROR, recordPages != 0 ? "Failed to create peppered xml" : "Failed to create peppered xml file");
    return status;
}

// A conversion starts from fresh engine and builder state and ends with the engine's lists freed; the
// scratch directory goes with the Conversion.
struct EngineSession {
    explicit EngineSession(const Conversion& c) : c_(c) {
        resetEngineState();
        freeStaticPageList();
        ConversionCarry& carry = conversionCarry();
        carry.gStrSchemaFilename.clear();
        carry.gStrSchemaVersion.clear();
        carry.gStrProductName.clear();
    }
    ~EngineSession() {
        c_.logText(ZELKOR_LOG_INFO, c_.route.route == HalPepperedRoute::Input ? "Cleaning the XML file"
                                                                               : "Cleaning the parsed XML file");
        zelkor_CleanXmlParser();
    }
    const Conversion& c_;
};

ZELKOR_STATUS pepperedToImage(Conversion& c, const std::string& peppered, const char* rootSwitch, FILE* output,
                              void* context) {
    c.logText(ZELKOR_LOG_INFO, c.route.pepperedCreated);
    c.logText(ZELKOR_LOG_INFO, c.route.parsingPeppered);
    ZELKOR_STATUS status = zelkor_ParseXmlFile(c.handle, peppered.c_str(), rootSwitch, context);
    if (status != 0) {
        c.logText(ZELKOR_LOG_ERROR, c.route.route == HalPepperedRoute::Static ? c.route.binaryFailed
                                                                               : "Failed to parse peppered xml file");
        return status;
    }
    c.logText(ZELKOR_LOG_INFO, c.route.pepperedParsed);
    c.logText(ZELKOR_LOG_INFO, c.route.creatingBinary);
    status = zelkor_CreateBinaryFile(c.handle, output);
    c.logText(status != 0 ? ZELKOR_LOG_ERROR : ZELKOR_LOG_INFO, status != 0 ? c.route.binaryFailed : c.route.binaryCreated);
    return status;
}

ZELKOR_STATUS convertToBinary(Conversion& c, const char* xmlPath, const char* third, FILE* output, void* context) {
    if (c.route.route == HalPepperedRoute::Input) {
        c.logText(ZELKOR_LOG_INFO, "Parsing the XML file");
        ZELKOR_STATUS status = zelkor_ParseXmlFile(c.handle, xmlPath, third, context);
        if (status != 0)
            return status;
        c.logText(ZELKOR_LOG_INFO, "Creating the binary image from the parsed XML file");
        return zelkor_CreateBinaryFile(c.handle, output);
    }
    if (ZELKOR_STATUS status = locateAndParse(c, xmlPath, third); status != 0)
        return status;
    if (c.route.route == HalPepperedRoute::Dynamic) {
        c.logText(ZELKOR_LOG_INFO, "Creating peppered xml file");
        if (ZELKOR_STATUS status = readRootAttributes(c, false); status != 0)
            return status;
    }
    std::string peppered;
    if (ZELKOR_STATUS status = buildPeppered(c, 0, peppered); status != 0)
        return status;
    return pepperedToImage(c, peppered, c.xsdPath.c_str(), output, context);
}

// The output XML: opened for reading, or created when it does not exist (created is then set).
ZELKOR_STATUS prepareOutput(Conversion& c, const char* outputPath, bool& created) {
    if (FILE* existing = std::fopen(outputPath, "r")) {
        std::fclose(existing);
        return 0;
    }
    FILE* made = std::fopen(outputPath, "wb");
    if (made == nullptr) {
        printLine("Unable to open file :%s\n", outputPath);
        c.log(ZELKOR_LOG_ERROR, "Unable to open file : %s **** FAILED ****", outputPath);
        return 1;
    }
    std::fclose(made);
    created = true;
    return 0;
}

bool emptyRegularFile(const char* path) {
    struct stat info {};
    return stat(path, &info) == 0 && S_ISREG(info.st_mode) && info.st_size == 0;
}

ZELKOR_STATUS convertBack(Conversion& c, const char* templatePath, const char* outputPath, FILE* image) {
    if (ZELKOR_STATUS status = locateAndParse(c, templatePath, nullptr); status != 0)
        return status;
    if (ZELKOR_STATUS status = readRootAttributes(c, true); status != 0)
        return status;
    std::string peppered;
    if (ZELKOR_STATUS status = buildPeppered(c, 1, peppered); status != 0)
        return status;
    c.logText(ZELKOR_LOG_INFO, "Successfully created peppered xml file");
    bool created = false;
    if (ZELKOR_STATUS status = prepareOutput(c, outputPath, created); status != 0)
        return status;
    ConversionCarry& carry = conversionCarry();
    carry.gStrSchemaVersion = c.gStrSchemaVersion;
    carry.gStrProductName = c.gStrProductName;
    ZELKOR_STATUS status =
        zelkor_CreateOutputXMLFile(c.handle, c.gXmlFileName.c_str(), outputPath, image, peppered.c_str());
    if (status != 0) {
        c.logText(ZELKOR_LOG_ERROR, "Failed to create XML file from binary");
        // A file this call created stays only when it holds what a bad page's walk saved before it.
        if (created && (status != 1 || emptyRegularFile(outputPath)))
            std::remove(outputPath);
    } else {
        c.logText(ZELKOR_LOG_INFO, "Successfully created XML file from binary");
    }
    return status;
}

} // namespace

ZELKOR_STATUS halXml2bin(const HalFamily& family, ZELKOR_HAL_INSTANCE* hi, const char* xmlPath, const char* third,
                         FILE* output, void* context) {
    if (getHALInstance(hi) == nullptr)
        return HAL_INVALID_HANDLE;
    ZELKOR_INSTANCE* handle = hi->handle;
    halLogEntry(family, handle, FN_XML2BIN);
    if (xmlPath == nullptr || output == nullptr) {
        halLog(family, handle, FN_XML2BIN, ZELKOR_LOG_ERROR, "Invalid Arguments **** FAILED ****");
        return HAL_INVALID_ARGUMENT;
    }
    if (family.xmlRoute == nullptr)
        return HAL_NOT_APPLICABLE;
    Conversion c{.family = family, .route = *family.xmlRoute, .handle = handle, .function = FN_XML2BIN};
    EngineSession session(c);
    return convertToBinary(c, xmlPath, third, output, context);
}

ZELKOR_STATUS halBin2xml(const HalFamily& family, ZELKOR_HAL_INSTANCE* hi, const char* templatePath,
                         const char* outputPath, FILE* image) {
    if (getHALInstance(hi) == nullptr)
        return HAL_INVALID_HANDLE;
    ZELKOR_INSTANCE* handle = hi->handle;
    halLogEntry(family, handle, FN_BIN2XML);
    if (family.xmlRoute == nullptr || !family.xmlRoute->convertsBack)
        return HAL_FAILURE;
    if (templatePath == nullptr || outputPath == nullptr || image == nullptr) {
        halLog(family, handle, FN_BIN2XML, ZELKOR_LOG_ERROR, "Invalid Arguments **** FAILED ****");
        return HAL_INVALID_ARGUMENT;
    }
    Conversion c{.family = family, .route = *family.xmlRoute, .handle = handle, .function = FN_BIN2XML};
    EngineSession session(c);
    return convertBack(c, templatePath, outputPath, image);
}

// ---- the families' rows ----

namespace {

const SupportLookupTexts kOstrelXmlLookup{
    .module = "zelkor_hal_OSTREL",
    .function = nullptr,
    .type = ZELKOR_LOG_OSTREL,
    .refusesDirectories = false,
    .capacity = 512,
    .directoryRefused = {nullptr, nullptr},
    .unset = "ZELKOR_SUPPORT_FILES environmental variable not set",
    .announce = "ZELKOR_SUPPORT_FILES is set as '%s'",
    .tooLong = "ZELKOR_SUPPORT_FILES environmental variable Path + XML filename is greater that 512 characters "
               "**** FAILED ****",
    .notFound = {"Unable to open %s file**** FAILED ****", nullptr},
    .found = nullptr,
};

const SupportLookupTexts kOstrelXsdLookup{
    .module = "zelkor",
    .function = "zelkor_xml2xml",
    .type = ZELKOR_LOG_CORE,
    .refusesDirectories = false,
    .capacity = sizeof(ZELKOR_SHARED_VARS::supportPath),
    .directoryRefused = {nullptr, nullptr},
    .unset = "ZELKOR_SUPPORT_FILES environmental variable not set",
    .announce = "ZELKOR_SUPPORT_FILES is set as '%s'",
    .tooLong = "Allocating memory of %d bytes for the complete path %s and file name %s **** FAILED ****",
    .notFound = {"%s File not found under %s", nullptr},
    .found = nullptr,
};

const SupportLookupTexts kQuenzaXmlLookup{
    .module = "zelkor_hal_GEN3",
    .function = "retrieveXmlFromEnv",
    .type = ZELKOR_LOG_QUENZA,
    .refusesDirectories = true,
    .capacity = sizeof(ZELKOR_SHARED_VARS::supportPath),
    .directoryRefused = {"File not found at specified location", "File not found at Env Variable path location"},
    .unset = "ZELKOR_SUPPORT_FILES Environmental variable is not populated **** FAILED ****",
    .announce = nullptr,
    .tooLong = "Allocating memory of %d bytes **** FAILED ****",
    .notFound = {"File not found at ZELKOR_SUPPORT_FILES environmental variable location.",
                 "File not found at Env Variable path location"},
    .found = nullptr,
};

} // namespace

const HalXmlRoute kOstrelXmlRoute{
    .route = HalPepperedRoute::Static,
    .xsd = HalXsdSource::OptionThirdLocation,
    .resolvesStamps = false,
    .convertsBack = true,
    .nameNeedle = "xml",
    .badNameMessage = "ERROR : Invalid file name. Xml file name missing.\n",
    .badNameLog = "Invalid file name. Xml file name missing.",
    .xmlLookup = &kOstrelXmlLookup,
    .xmlLookupFunction = nullptr,
    .xsdLookup = &kOstrelXsdLookup,
    .checkingXml = "Checking %s file is present under current directory",
    .xmlNotHere = " %s file is *NOT* present under current directory",
    .checkingSupportXml = "Checking %s file under ZELKOR_SUPPORT_FILES environmental variable ",
    .parsingXml = "Parsing %s XML file",
    .parsingXmlFailed = "Parsing %s XML file **** FAILED ****",
    .xsdNotHere = "'%s' Schema file is not present under current location",
    .checkingSupportXsd = "Checking Schema file under ZELKOR_SUPPORT_FILES Path",
    .creatingPeppered = "Creating peppered.xml file",
    .pepperedCreated = "Successfully created peppered.xml file",
    .parsingPeppered = "Parsing peppered.xml file",
    .pepperedParsed = "Successfully parsed peppered.xml file",
    .creatingBinary = "Creating Binary file using peppered.xml file",
    .binaryFailed = "Creating Binary file using peppered.xml file **** FAILED ****",
    .binaryCreated = nullptr,
};

const HalXmlRoute kQuenzaXmlRoute{
    .route = HalPepperedRoute::Dynamic,
    .xsd = HalXsdSource::OptionOnly,
    .resolvesStamps = true,
    .convertsBack = true,
    .nameNeedle = ".xml",
    .badNameMessage = "ERROR : Invalid file name. xml file extension missing.\n",
    .badNameLog = "Invalid file name. xml file extension missing",
    .xmlLookup = &kQuenzaXmlLookup,
    .xmlLookupFunction = "retrieveXmlFromEnv",
    .xsdLookup = nullptr,
    .checkingXml = nullptr,
    .xmlNotHere = nullptr,
    .checkingSupportXml = nullptr,
    .parsingXml = "Parsing %s XML file",
    .parsingXmlFailed = "Parsing %s XML file **** FAILED ****",
    .xsdNotHere = nullptr,
    .checkingSupportXsd = nullptr,
    .creatingPeppered = nullptr,
    .pepperedCreated = "Successfully created peppered xml file",
    .parsingPeppered = "Parsing peppered xml file",
    .pepperedParsed = "Successfully parsed peppered xml file",
    .creatingBinary = "Creating Binary file using peppered xml file",
    .binaryFailed = "Creating Binary file using peppered xml file **** FAILED ****",
    .binaryCreated = "Successfully created Binary file using peppered xml",
};

const HalXmlRoute kPalxXmlRoute{
    .route = HalPepperedRoute::Input,
    .xsd = HalXsdSource::None,
    .resolvesStamps = false,
    .convertsBack = false,
};
