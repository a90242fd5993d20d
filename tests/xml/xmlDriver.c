/*
 * A small C program over libzelkor.so that chains XML steps in one process, one step per group of
 * arguments, and prints one result line per step:
 *
 *   log FILE                      open the library log with every type and level
 *   query SPEC|none               QUERY answers by type name: TYPE=TEXT or TYPE=!STATUS, comma separated
 *   xml2xml XML XSD OUT           -> "xml2xml status=N chip=C"
 *   resolve XML XSD QUIET         -> "resolve status=N xml=... xsd=..."
 *   retrieve NAME                 -> "retrieve status=N path=..."
 *   validate XML XSD              -> "validate status=N"
 *   setxsd PATH                   the option block's file name
 *   verbose | unit | general      the engine's switches
 *   open CODE SASADDRESS          -> "open status=N"
 *   xml2bin XML THIRD IMAGE       IMAGE opened "wb" ("-": no file)
 *   bin2xml TEMPLATE OUT IMAGE    IMAGE opened "rb" ("-": no file)
 *   close                         the handle stays in hand, so later steps use a closed handle
 *   nullhandle                    later steps use a null handle
 *
 * "-" stands for a null text argument. The exit status is 0 when every step was understood.
 */
#include <zelkor.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define MAX_ANSWERS 16

struct Answer {
    char type[64];
    char text[256];
    int status; /* -1: answer with text */
};

static struct Answer gAnswers[MAX_ANSWERS];
static int gAnswerCount;
static int gUseCallback;

static const char* arg(const char* text) {
    return strcmp(text, "-") == 0 ? NULL : text;
}

static ZELKOR_STATUS answerQuery(void* context, char** value, const char* typeName, uint32_t length) {
    (void)context;
    printf("query type=%s length=%u\n", typeName != NULL ? typeName : "(null)", (unsigned)length);
    for (int i = 0; i < gAnswerCount; ++i) {
        if (typeName == NULL || strcmp(gAnswers[i].type, typeName) != 0)
            continue;
        if (gAnswers[i].status >= 0)
            return (ZELKOR_STATUS)gAnswers[i].status;
        /* Replaces the buffer, as the callback contract allows. */
        char* answer = malloc(strlen(gAnswers[i].text) + 1);
        if (answer == NULL)
            return 6;
        strcpy(answer, gAnswers[i].text);
        free(*value);
        *value = answer;
        return 0;
    }
    return 1;
}

static void parseAnswers(const char* spec) {
    gAnswerCount = 0;
    gUseCallback = strcmp(spec, "none") != 0;
    if (!gUseCallback)
        return;
    char copy[1024];
    snprintf(copy, sizeof copy, "%s", spec);
    for (char* item = strtok(copy, ","); item != NULL && gAnswerCount < MAX_ANSWERS; item = strtok(NULL, ",")) {
        char* equals = strchr(item, '=');
        if (equals == NULL)
            continue;
        *equals = '\0';
        struct Answer* a = &gAnswers[gAnswerCount++];
        snprintf(a->type, sizeof a->type, "%s", item);
        if (equals[1] == '!') {
            a->status = atoi(equals + 2);
            a->text[0] = '\0';
        } else {
            a->status = -1;
            snprintf(a->text, sizeof a->text, "%s", equals + 1);
        }
    }
}

static void allTypesLog(const char* file) {
    LOG_CONFIG config;
    memset(&config, 0, sizeof config);
    snprintf(config.name, sizeof config.name, "%s", file);
    config.truncate = 1;
    config.typeMask = 0xFFFFFFFFu;
    config.levelMask = 0xFF;
    printf("log status=%u\n", (unsigned)zelkor_initLogger(&config));
}

int main(int argc, char** argv) {
    ZELKOR_INSTANCE* handle = NULL;
    int i = 1;
    setvbuf(stdout, NULL, _IONBF, 0);
    while (i < argc) {
        const char* step = argv[i++];
        int left = argc - i;
        if (strcmp(step, "log") == 0 && left >= 1) {
            allTypesLog(argv[i]);
            i += 1;
        } else if (strcmp(step, "query") == 0 && left >= 1) {
            parseAnswers(argv[i]);
            i += 1;
        } else if (strcmp(step, "xml2xml") == 0 && left >= 3) {
            uint32_t chip = 0;
            ZELKOR_STATUS s = zelkor_xml2xml(arg(argv[i]), arg(argv[i + 1]), arg(argv[i + 2]),
                                             gUseCallback ? answerQuery : NULL, &chip);
            printf("xml2xml status=%u chip=%u\n", (unsigned)s, (unsigned)chip);
            i += 3;
        } else if (strcmp(step, "resolve") == 0 && left >= 3) {
            ZELKOR_STATUS s = zelkor_retrieveXsdFromXml(arg(argv[i]), arg(argv[i + 1]), (uint8_t)atoi(argv[i + 2]));
            printf("resolve status=%u xml=%s xsd=%s\n", (unsigned)s, gXmlName, gSharedVars.supportPath);
            i += 3;
        } else if (strcmp(step, "retrieve") == 0 && left >= 1) {
            static char path[ZELKOR_XML_NAME_SIZE];
            path[0] = '\0';
            ZELKOR_STATUS s = zelkor_retrieveFileFromEnv(arg(argv[i]), path);
            printf("retrieve status=%u path=%s\n", (unsigned)s, path);
            i += 1;
        } else if (strcmp(step, "validate") == 0 && left >= 2) {
            ZELKOR_STATUS s = zelkor_upMfgXmlValidation(arg(argv[i]), arg(argv[i + 1]));
            printf("validate status=%u\n", (unsigned)s);
            i += 2;
        } else if (strcmp(step, "setxsd") == 0 && left >= 1) {
            snprintf(gSharedVars.supportPath, sizeof gSharedVars.supportPath, "%s",
                     arg(argv[i]) != NULL ? argv[i] : "");
            i += 1;
        } else if (strcmp(step, "verbose") == 0) {
            printf("verbose status=%u\n", (unsigned)zelkor_setVerboseFlag());
        } else if (strcmp(step, "unit") == 0) {
            printf("unit status=%u\n", (unsigned)zelkor_setUnitFlag());
        } else if (strcmp(step, "general") == 0) {
            printf("general status=%u\n", (unsigned)zelkor_setGeneralFlag());
        } else if (strcmp(step, "open") == 0 && left >= 2) {
            uint64_t target = arg(argv[i + 1]) != NULL ? strtoull(argv[i + 1], NULL, 16) : 0;
            ZELKOR_STATUS s = zelkor_open((uint32_t)atoi(argv[i]), target, &handle, NULL, NULL);
            printf("open status=%u\n", (unsigned)s);
            i += 2;
        } else if (strcmp(step, "xml2bin") == 0 && left >= 3) {
            FILE* image = arg(argv[i + 2]) != NULL ? fopen(argv[i + 2], "wb") : NULL;
            ZELKOR_STATUS s = zelkor_xml2bin(handle, arg(argv[i]), arg(argv[i + 1]), image, NULL);
            int closed = image != NULL ? fclose(image) : 0;
            printf("xml2bin status=%u%s\n", (unsigned)s, closed != 0 ? " close-failed" : "");
            i += 3;
        } else if (strcmp(step, "bin2xml") == 0 && left >= 3) {
            FILE* image = arg(argv[i + 2]) != NULL ? fopen(argv[i + 2], "rb") : NULL;
            ZELKOR_STATUS s = zelkor_bin2xml(handle, arg(argv[i]), arg(argv[i + 1]), image);
            if (image != NULL)
                fclose(image);
            printf("bin2xml status=%u\n", (unsigned)s);
            i += 3;
        } else if (strcmp(step, "close") == 0) {
            printf("close status=%u\n", (unsigned)zelkor_close(handle));
        } else if (strcmp(step, "nullhandle") == 0) {
            handle = NULL;
        } else {
            fprintf(stderr, "xmlDriver: cannot read step %s\n", step);
            return 2;
        }
    }
    zelkor_closeLogger();
    return 0;
}
