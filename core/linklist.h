// Cursor list: node allocation, used only by the list operations themselves.
#ifndef LINKLIST_H
#define LINKLIST_H

#include "core/zelkor.h"

LL_NODE* node_new();
void node_delete(LL_NODE* node);

#endif
