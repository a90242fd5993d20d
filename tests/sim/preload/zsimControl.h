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

/* Serial lines. A pseudo-terminal takes only 8 data bits without parity, so every tcsetattr on a
 * terminal is recorded as the program asked for it and then applied with 8 data bits and no parity.
 * zsim_serialLineFrame tells the frame last asked for on the terminal with the given device number:
 * 0, or -1 when none was set. */
int zsim_serialLineFrame(unsigned long long device, int* dataBits, int* parity, int* stopBits);
/* Every tcsetattr since the last clear, one line each:
 * "tcsetattr dev=MAJOR:MINOR speed=B bits=N parity=none|odd|even stop=N flow=none|xon|rtscts vmin=N vtime=N"
 * (freed by the caller). */
char* zsim_serialLineRecord(void);
void zsim_serialLineClearRecord(void);
/* Called with the descriptor before every tcsetattr and every tcflush on a terminal (null: none). */
void zsim_serialSetLineChangeHook(void (*hook)(int));
/* Opens of this exact path fail with EACCES from now on (null: none). */
void zsim_serialDenyOpen(const char* path);

#ifdef __cplusplus
}
#endif

#endif
