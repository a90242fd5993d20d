/*
 * Control interface of the preloaded simulator (libzsim.so), for in-process tests: a test that runs under
 * the preload finds these functions with dlsym(RTLD_DEFAULT, ...) (see client/zsimClient.h).
 */
#ifndef ZSIM_CONTROL_H
#define ZSIM_CONTROL_H

#ifdef __cplusplus
extern "C" {
#endif

/* Replaces the enclosure by the one the scenario text describes and clears the trace; descriptors opened
 * before no longer reach a device. 0 on success, -1 with the reason in zsim_lastError(). */
int zsim_loadScenario(const char* text);
const char* zsim_lastError(void);

/* The trace since the last load and the enclosure's current state, in the formats of the trace and state
 * files; the caller frees the text with free(). */
char* zsim_trace(void);
char* zsim_state(void);
void zsim_clearTrace(void);

#ifdef __cplusplus
}
#endif

#endif
