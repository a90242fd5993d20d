// Morvane front end: commands, executors and the process entry.
#ifndef BRANNIC_H
#define BRANNIC_H

int brannicMain(int argc, char** argv);

#endif
