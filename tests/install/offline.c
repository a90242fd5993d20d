/* A C program built against the installed header and library: the version, then an offline open and close. */
#include <zelkor.h>

#include <stdio.h>

int main(void) {
    uint8_t major = 0, minor = 0;
    ZELKOR_STATUS status = zelkor_version(&major, &minor);
    if (status != 0) {
        printf("zelkor_version: %u\n", (unsigned)status);
        return 1;
    }
    printf("version %u.%u\n", (unsigned)major, (unsigned)minor);

    ZELKOR_INSTANCE* handle = NULL;
    ZELKOR_EXPANDER_LIST* expanders = NULL;
    status = zelkor_open(ZELKOR_INTERFACE_OFFLINE_OSTREL, 0, &handle, NULL, &expanders);
    if (status != 0 || handle == NULL || expanders == NULL) {
        printf("zelkor_open: %u\n", (unsigned)status);
        return 1;
    }
    printf("chip type %u\n", (unsigned)expanders->expander.type);
    status = zelkor_close(handle);
    if (status != 0) {
        printf("zelkor_close: %u\n", (unsigned)status);
        return 1;
    }
    printf("closed\n");
    return 0;
}
