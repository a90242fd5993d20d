// Frees a list the library hands out (nodes from malloc, linked through next).
#ifndef TESTS_SUPPORT_LIBRARY_LISTS_H
#define TESTS_SUPPORT_LIBRARY_LISTS_H

#include <cstdlib>

template <typename Node> void freeList(Node* node) {
    while (node != nullptr) {
        Node* next = node->next;
        std::free(node);
        node = next;
    }
}

#endif
