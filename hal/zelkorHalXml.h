// The hardware modules' XML conversions: configuration XML to a region image and back. One pipeline for
// every family; a family's row says where its XSD comes from, how its peppered document is obtained, and
// whether it converts back at all. Every intermediate document lives in one scratch directory per call.
#ifndef ZELKOR_HAL_XML_H
#define ZELKOR_HAL_XML_H

#include "core/supportFiles.h"
#include "core/zelkor.h"

#include <cstdio>

struct HalFamily;

// How the user's document becomes the peppered one.
enum class HalPepperedRoute {
    Static,  // directly from the user's document and the XSD
    Dynamic, // default, complete, peppered; a document of product "Ostrel" takes the direct road
    Input,   // the input is peppered already
};

// Where the XSD comes from.
enum class HalXsdSource {
    OptionThirdLocation, // the option block's name, else the third argument, else the schema location
    OptionOnly,          // the option block's name only
    None,
};

struct HalXmlRoute {
    HalPepperedRoute route;
    HalXsdSource xsd;
    bool resolvesStamps; // USE and FORMAT on a copy of the user's document before the chain
    bool convertsBack;   // bin2xml is built (else it answers 1)

    // The name check: a case-insensitive search for the needle; its failure is printed and logged.
    const char* nameNeedle;
    const char* badNameMessage;
    const char* badNameLog; // null: the message is logged as printed
    const SupportLookupTexts* xmlLookup;
    const char* xmlLookupFunction; // null: the operation's name
    const SupportLookupTexts* xsdLookup;

    // Log lines of the steps, written where the family writes them (null: none).
    const char* checkingXml;        // (the name)
    const char* xmlNotHere;         // (the name)
    const char* checkingSupportXml; // (the name)
    const char* parsingXml;         // (the path)
    const char* parsingXmlFailed;   // (the path)
    const char* xsdNotHere;         // (the XSD)
    const char* checkingSupportXsd;
    const char* creatingPeppered;
    const char* pepperedCreated;
    const char* parsingPeppered;
    const char* pepperedParsed;
    const char* creatingBinary;
    const char* binaryFailed;
    const char* binaryCreated;
};

extern const HalXmlRoute kOstrelXmlRoute;
extern const HalXmlRoute kQuenzaXmlRoute;
extern const HalXmlRoute kPalxXmlRoute;

ZELKOR_STATUS halXml2bin(const HalFamily& family, ZELKOR_HAL_INSTANCE* hi, const char* xmlPath, const char* third,
                         FILE* output, void* context);
ZELKOR_STATUS halBin2xml(const HalFamily& family, ZELKOR_HAL_INSTANCE* hi, const char* templatePath,
                         const char* outputPath, FILE* image);

#endif
