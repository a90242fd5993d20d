#include "config/engineState.h"

#include "core/zelkorInternal.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace pageengine {

namespace {

EngineState sEngineState;
EngineSwitches sEngineSwitches;
ConversionCarry sConversionCarry;

} // namespace

EngineState& engineState() {
    return sEngineState;
}
EngineSwitches& engineSwitches() {
    return sEngineSwitches;
}

ConversionCarry& conversionCarry() {
    return sConversionCarry;
}
void freeStaticPageList() {
    std::vector<PAGE_RECORD>().swap(sConversionCarry.gStaticPageList);
}

void resetEngineState() {
    sEngineState = EngineState{};
}
void clearEngineSwitches() {
    sEngineSwitches = EngineSwitches{};
}

void setVerboseON() {
    sEngineSwitches.gFlagVerbose = true;
}
void setUnitON() {
    sEngineSwitches.gFlagUnit = true;
}
void setGeneralON() {
    sEngineSwitches.gFlagGeneral = true;
}

// One record for the whole library: the core sets it in zelkor_xml2bin and zelkor_bin2xml, the engine at
// the start of a conversion.
void setXmlHandle(ZELKOR_INSTANCE* handle) {
    gPtrZelkorHandleXml = handle;
}
ZELKOR_INSTANCE* xmlHandle() {
    return gPtrZelkorHandleXml;
}

void engineLog(const char* function, uint32_t level, const char* format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    zelkor_messageLog(ENGINE_MODULE, function, ZELKOR_LOG_CONFIG, level, 1, "%s", text);
}

void userMessage(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::size_t length = std::strlen(format);
    if (length == 0 || format[length - 1] != '\n')
        std::fputc('\n', stdout);
    std::fflush(stdout);
}

} // namespace pageengine
