// Frees a list the library hands out (nodes from malloc, linked through next).
#ifndef BENCH_LIBRARY_LISTS_H
#define BENCH_LIBRARY_LISTS_H

#include <cstdlib>

template <typename Node> void freeList(Node* node) {
    while (node != nullptr) {
        Node* next = node->next;
        std::free(node);
        node = next;
    }
}

#endif
