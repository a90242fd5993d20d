// The front end's one message writer, its progress callback and its status texts.
#ifndef MESSAGES_H
#define MESSAGES_H

#include <cstdint>

// Module name of every front-end message.
inline constexpr const char* kMorvModule = "morv";

// Destinations of messageLog
constexpr uint32_t MSG_DEST_CONSOLE = 1; // console unless quiet (0 means the same)
constexpr uint32_t MSG_DEST_ALWAYS = 2;  // console, also in quiet mode
constexpr uint32_t MSG_DEST_LOG = 3;     // the log file (and higher values)

// Longest text one message carries; longer output is cut.
constexpr uint32_t MSG_TEXT_LIMIT = 510;

// The front end's own status codes.
constexpr uint32_t MORV_STATUS_HELP_TOPIC = 0x1024;    // help for one topic was shown
constexpr uint32_t MORV_STATUS_NO_COMMAND = 0x1025;    // no command word
constexpr uint32_t MORV_STATUS_INVALID_INPUT = 0x1026; // the command line cannot be carried out
constexpr uint32_t MORV_STATUS_DECLINED = 0x1027;      // the user declined a confirmation

// Formats the message and sends it to the console, the log or both, by destination and the quiet and
// console-echo settings. A null function gives a bare log line without header.
void messageLog(const char* module, uint32_t level, uint8_t stamp, const char* function, uint32_t destination,
                const char* format, ...) __attribute__((format(printf, 6, 7)));

// Writes the text and a line feed to the console, whatever the quiet setting; for texts of any length.
void consoleLine(const char* text);

// Progress callback handed to the library: a dot per event 1 while the front end is busy.
void zelkor_messageHandler(int32_t event, int32_t argument);

// Shows an empty line and, for a status that has one, its text.
void displayZelkorStatus(uint32_t status);

#endif
