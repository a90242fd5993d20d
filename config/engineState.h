// Process-wide state of the configuration page engine, its switches, and its two message channels (the
// library log and user errors on standard output).
#ifndef CONFIG_ENGINE_STATE_H
#define CONFIG_ENGINE_STATE_H

#include "config/pageRecords.h"
#include "core/zelkor.h"

#include <cstdint>
#include <string>
#include <vector>

struct ZELKOR_INSTANCE;

namespace pageengine {

// Everything one conversion builds up. resetEngineState() returns it to this initial form; every
// conversion entry point calls it first, so that conversions can follow each other in one process.
struct EngineState {
    std::vector<PAGE_RECORD> gXMLPagelist;
    std::string gPageName;     // NAME of the page being parsed, for messages
    uint32_t Page_offset = 14; // image offset of the current page's id field, for the verbose dump
    bool gBoolFormatDecimalFound = false;
    std::string gFormatElementName;
    std::string gFormatPageName;
};

// Switches the core sets before a conversion; a conversion never clears them.
struct EngineSwitches {
    bool gFlagVerbose = false;
    bool gFlagUnit = false;
    bool gFlagGeneral = false;
};

// What one step of a conversion hands the next: the peppered builders list the user's pages and record
// the schema name they wrote; the caller of zelkor_CreateOutputXMLFile sets SchemaVersion and Product from
// its template. Each builder resets the part it writes; zelkor_CreateOutputXMLFile empties the page list.
struct ConversionCarry {
    std::vector<PAGE_RECORD> gStaticPageList;
    std::string gStrSchemaFilename;
    std::string gStrSchemaVersion;
    std::string gStrProductName;
};

EngineState& engineState();
EngineSwitches& engineSwitches();
ConversionCarry& conversionCarry();
void freeStaticPageList();
void resetEngineState();
// Clears the switches as well; for a caller that starts a fresh sequence of conversions.
void clearEngineSwitches();

void setVerboseON();
void setUnitON();
void setGeneralON();

// The handle whose services the engine uses (gPtrZelkorHandleXml); the engine only records it.
void setXmlHandle(ZELKOR_INSTANCE* handle);
ZELKOR_INSTANCE* xmlHandle();

inline constexpr const char* ENGINE_MODULE = "zelkor_hal_GEN3";
inline constexpr const char* FUNCTION_XML2BIN = "zelkor_hal_xml2bin";
inline constexpr const char* FUNCTION_BIN2XML = "zelkor_hal_bin2xml";

// One line in the library log as the engine writes it (its module name and type bits, stamped).
void engineLog(const char* function, uint32_t level, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// One user message on standard output; a text that does not end in a line feed is completed to a line.
void userMessage(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Status codes of the engine.
inline constexpr ZELKOR_STATUS STATUS_OK = 0;
inline constexpr ZELKOR_STATUS STATUS_FAILURE = 1;
inline constexpr ZELKOR_STATUS STATUS_NULL_ARGUMENT = 5;
inline constexpr ZELKOR_STATUS STATUS_NO_MEMORY = 6;
inline constexpr ZELKOR_STATUS STATUS_NO_SCHEMA_LOCATION = 36;
inline constexpr ZELKOR_STATUS STATUS_NO_ROOT_DECLARATION = 36;
inline constexpr ZELKOR_STATUS STATUS_PAGE_ID_MISSING = 37;
inline constexpr ZELKOR_STATUS STATUS_DUPLICATE_PAGE_ID = 38;
inline constexpr ZELKOR_STATUS STATUS_OFFSET_VALIDATION = 39;
inline constexpr ZELKOR_STATUS STATUS_INVALID_XML = 40;
inline constexpr ZELKOR_STATUS STATUS_XML_PARSE = 41;
inline constexpr ZELKOR_STATUS STATUS_IMAGE_READ = 43;
inline constexpr ZELKOR_STATUS STATUS_QUERY_INVALID = 49;
inline constexpr ZELKOR_STATUS STATUS_NO_SUPPORT_VARIABLE = 52;
inline constexpr ZELKOR_STATUS STATUS_SUPPORT_FILE_MISSING = 53;
inline constexpr ZELKOR_STATUS STATUS_SUPPORT_PATH_TOO_LONG = 58;
inline constexpr ZELKOR_STATUS STATUS_NO_UNIT_PAGE = 54;
inline constexpr ZELKOR_STATUS STATUS_NO_GENERAL_PAGE = 55;

} // namespace pageengine

#endif
