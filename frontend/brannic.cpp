#include "frontend/brannic.h"

int brannicMain(int, char**) { return 0; }
