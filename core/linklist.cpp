// The one container of the library: a doubly linked list that carries its own cursor.
#include "core/linklist.h"

#include <cstdlib>

namespace {

// Frees every node from the tail on and leaves the record empty.
void freeNodes(LL_LIST* list) {
    LL_NODE* node = list->tail;
    while (node != nullptr) {
        LL_NODE* prev = node->prev;
        node_delete(node);
        node = prev;
    }
    *list = LL_LIST{};
}

// -1 for no list, -3 for a list without nodes, else 0.
int32_t nodesFailure(const LL_LIST* list) {
    if (list == nullptr)
        return LL_NULL_LIST;
    return list->count == 0 ? LL_EMPTY : LL_SUCCESS;
}

// The cursor-relative failure for a list that has nodes but no cursor node.
int32_t cursorFailure(const LL_LIST* list) {
    if (list->count == 0)
        return LL_EMPTY;
    if (list->index < 1)
        return LL_BEFORE_START;
    if (list->index > list->count)
        return LL_PAST_END;
    return LL_SUCCESS;
}

void linkAtHead(LL_LIST* list, LL_NODE* node) {
    node->prev = nullptr;
    node->next = list->head;
    if (list->head != nullptr)
        list->head->prev = node;
    else
        list->tail = node;
    list->head = node;
    list->index = 1;
}

void linkAtTail(LL_LIST* list, LL_NODE* node) {
    node->next = nullptr;
    node->prev = list->tail;
    if (list->tail != nullptr)
        list->tail->next = node;
    else
        list->head = node;
    list->tail = node;
    list->index = list->count;
}

// Inserts before the cursor node; the new node takes over the cursor's position.
void linkBeforeCursor(LL_LIST* list, LL_NODE* node) {
    LL_NODE* at = list->cursor;
    node->next = at;
    node->prev = at->prev;
    at->prev->next = node;
    at->prev = node;
}

} // namespace

LL_NODE* node_new() {
    return static_cast<LL_NODE*>(std::calloc(1, sizeof(LL_NODE)));
}

void node_delete(LL_NODE* node) {
    std::free(node);
}

extern "C" LL_LIST* ll_new(void) {
    return static_cast<LL_LIST*>(std::calloc(1, sizeof(LL_LIST)));
}

extern "C" int32_t ll_delete(LL_LIST* list) {
    if (list == nullptr)
        return LL_NULL_LIST;
    freeNodes(list);
    std::free(list);
    return LL_SUCCESS;
}

extern "C" int32_t ll_removeAll(LL_LIST* list) {
    if (list == nullptr)
        return LL_NULL_LIST;
    freeNodes(list);
    return LL_SUCCESS;
}

extern "C" int32_t ll_getCount(LL_LIST* list) {
    return list != nullptr ? list->count : LL_NULL_LIST;
}

extern "C" int32_t ll_getIndex(LL_LIST* list) {
    return list != nullptr ? list->index : LL_NULL_LIST;
}

extern "C" int32_t ll_get(LL_LIST* list, void** data, uint32_t* size) {
    if (list == nullptr)
        return LL_NULL_LIST;
    if (list->cursor == nullptr) {
        const int32_t failure = cursorFailure(list);
        return failure != LL_SUCCESS ? failure : LL_EMPTY;
    }
    if (data != nullptr)
        *data = list->cursor->data;
    if (size != nullptr)
        *size = list->cursor->size;
    return LL_SUCCESS;
}

extern "C" int32_t ll_moveFirst(LL_LIST* list) {
    if (const int32_t failure = nodesFailure(list); failure != LL_SUCCESS)
        return failure;
    list->cursor = list->head;
    list->index = 1;
    return LL_SUCCESS;
}

extern "C" int32_t ll_moveLast(LL_LIST* list) {
    if (const int32_t failure = nodesFailure(list); failure != LL_SUCCESS)
        return failure;
    list->cursor = list->tail;
    list->index = list->count;
    return LL_SUCCESS;
}

// From before the first node the cursor steps onto the head.
extern "C" int32_t ll_moveNext(LL_LIST* list) {
    if (const int32_t failure = nodesFailure(list); failure != LL_SUCCESS)
        return failure;
    if (list->index > list->count)
        return LL_PAST_END;
    list->cursor = list->index < 1 ? list->head : list->cursor->next;
    list->index = list->index < 1 ? 1 : list->index + 1;
    return list->index <= list->count ? LL_SUCCESS : LL_PAST_END;
}

// From past the last node the cursor steps onto the tail.
extern "C" int32_t ll_movePrev(LL_LIST* list) {
    if (const int32_t failure = nodesFailure(list); failure != LL_SUCCESS)
        return failure;
    if (list->index < 1)
        return LL_BEFORE_START;
    const bool pastEnd = list->index > list->count;
    list->cursor = pastEnd ? list->tail : list->cursor->prev;
    list->index = pastEnd ? list->count : list->index - 1;
    return list->index > 0 ? LL_SUCCESS : LL_BEFORE_START;
}

extern "C" int32_t ll_moveTo(LL_LIST* list, int32_t position) {
    if (const int32_t failure = nodesFailure(list); failure != LL_SUCCESS)
        return failure;
    if (position < 1 || position > list->count)
        return LL_BAD_POSITION;
    LL_NODE* node = list->head;
    for (int32_t i = 1; i < position; ++i)
        node = node->next;
    list->cursor = node;
    list->index = position;
    return LL_SUCCESS;
}

extern "C" int32_t ll_add(LL_LIST* list, void* data, uint32_t size, uint32_t where) {
    if (list == nullptr || data == nullptr)
        return LL_NULL_LIST;
    if (where > LL_AT_CURSOR)
        return LL_BAD_POSITION;
    if (where == LL_AT_CURSOR) {
        if (const int32_t failure = cursorFailure(list); failure != LL_SUCCESS)
            return failure;
        // At the first node the new one goes to the head; at the last it is appended after it.
        if (list->index == 1)
            where = LL_AT_HEAD;
        else if (list->index == list->count)
            where = LL_AT_TAIL;
    }
    LL_NODE* node = node_new();
    if (node == nullptr)
        return LL_NO_MEMORY;
    node->data = data;
    node->size = size;
    ++list->count;
    if (where == LL_AT_HEAD)
        linkAtHead(list, node);
    else if (where == LL_AT_TAIL)
        linkAtTail(list, node);
    else
        linkBeforeCursor(list, node);
    list->cursor = node;
    return LL_SUCCESS;
}

// The cursor never keeps a freed node: when the removed node is the cursor node, the cursor moves to
// its successor (past the end when it was the tail); otherwise it stays on its node and the index
// follows that node's new position.
extern "C" int32_t ll_remove(LL_LIST* list, uint32_t where) {
    if (const int32_t failure = nodesFailure(list); failure != LL_SUCCESS)
        return failure;
    if (where > LL_AT_CURSOR)
        return LL_BAD_POSITION;
    LL_NODE* node = nullptr;
    int32_t position = 0;
    if (where == LL_AT_CURSOR) {
        if (const int32_t failure = cursorFailure(list); failure != LL_SUCCESS)
            return failure;
        node = list->cursor;
        position = list->index;
    } else if (where == LL_AT_HEAD) {
        node = list->head;
        position = 1;
    } else {
        node = list->tail;
        position = list->count;
    }

    if (node->prev != nullptr)
        node->prev->next = node->next;
    else
        list->head = node->next;
    if (node->next != nullptr)
        node->next->prev = node->prev;
    else
        list->tail = node->prev;

    if (list->cursor == node)
        list->cursor = node->next;
    else if (list->index > position)
        --list->index;
    --list->count;
    node_delete(node);
    if (list->count == 0)
        *list = LL_LIST{};
    return LL_SUCCESS;
}
