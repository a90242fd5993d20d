#include "core/linklist.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

// Node data are single letters; a list reads as the string of its letters.
char gLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ";

void* letter(char c) {
    return &gLetters[c - 'A'];
}
char letterOf(void* data) {
    return *static_cast<char*>(data);
}

std::string contents(const LL_LIST* list) {
    std::string text;
    for (const LL_NODE* node = list->head; node != nullptr; node = node->next)
        text += letterOf(node->data);
    return text;
}

// The links agree both ways, the count matches, and the cursor is either a node of the list at
// position index or absent with index 0 or count + 1.
testing::AssertionResult consistent(const LL_LIST* list) {
    int32_t position = 0;
    int32_t cursorPosition = 0;
    const LL_NODE* prev = nullptr;
    for (const LL_NODE* node = list->head; node != nullptr; node = node->next) {
        ++position;
        if (node->prev != prev)
            return testing::AssertionFailure() << "prev link broken at " << position;
        if (node == list->cursor)
            cursorPosition = position;
        prev = node;
    }
    if (list->tail != prev)
        return testing::AssertionFailure() << "tail is not the last node";
    if (position != list->count)
        return testing::AssertionFailure() << "count " << list->count << " for " << position << " nodes";
    if (list->cursor != nullptr) {
        if (cursorPosition == 0)
            return testing::AssertionFailure() << "cursor is not a node of the list";
        if (cursorPosition != list->index)
            return testing::AssertionFailure() << "cursor at " << cursorPosition << ", index " << list->index;
    } else if (list->index != 0 && list->index != list->count + 1) {
        return testing::AssertionFailure() << "no cursor node but index " << list->index;
    }
    return testing::AssertionSuccess();
}

struct Step {
    const char* what;
    std::function<int32_t(LL_LIST*)> run;
    int32_t result;
};

Step add(uint32_t where, char c, int32_t result = LL_SUCCESS) {
    return {"add", [=](LL_LIST* l) { return ll_add(l, letter(c), 0, where); }, result};
}
Step remove(uint32_t where, int32_t result = LL_SUCCESS) {
    return {"remove", [=](LL_LIST* l) { return ll_remove(l, where); }, result};
}
Step first(int32_t result = LL_SUCCESS) {
    return {"moveFirst", ll_moveFirst, result};
}
Step last(int32_t result = LL_SUCCESS) {
    return {"moveLast", ll_moveLast, result};
}
Step next(int32_t result = LL_SUCCESS) {
    return {"moveNext", ll_moveNext, result};
}
Step prev(int32_t result = LL_SUCCESS) {
    return {"movePrev", ll_movePrev, result};
}
Step to(int32_t position, int32_t result = LL_SUCCESS) {
    return {"moveTo", [=](LL_LIST* l) { return ll_moveTo(l, position); }, result};
}
Step get(int32_t result) {
    return {"get", [](LL_LIST* l) { return ll_get(l, nullptr, nullptr); }, result};
}

struct ListCase {
    const char* label;
    const char* initial; // appended at the tail before the steps
    std::vector<Step> steps;
    const char* contents;
    int32_t index;
    char cursor; // letter of the cursor node, '-' for none
};

const std::vector<ListCase> kCases = {
    {"empty list refuses everything cursor-bound",
     "",
     {get(LL_EMPTY), first(LL_EMPTY), last(LL_EMPTY), next(LL_EMPTY), prev(LL_EMPTY), to(1, LL_EMPTY),
      remove(LL_AT_HEAD, LL_EMPTY), remove(LL_AT_TAIL, LL_EMPTY), remove(LL_AT_CURSOR, LL_EMPTY),
      add(LL_AT_CURSOR, 'X', LL_EMPTY)},
     "",
     0,
     '-'},
    {"add at head of an empty list", "", {add(LL_AT_HEAD, 'X')}, "X", 1, 'X'},
    {"add at tail of an empty list", "", {add(LL_AT_TAIL, 'X')}, "X", 1, 'X'},
    {"walk past the last node",
     "ABC",
     {first(), next(), next(), next(LL_PAST_END), next(LL_PAST_END), get(LL_PAST_END)},
     "ABC",
     4,
     '-'},
    {"walk before the first node",
     "ABC",
     {first(), prev(LL_BEFORE_START), prev(LL_BEFORE_START), get(LL_BEFORE_START)},
     "ABC",
     0,
     '-'},
    {"next from before the first node steps onto the head",
     "AB",
     {first(), prev(LL_BEFORE_START), next()},
     "AB",
     1,
     'A'},
    {"prev from past the last node steps onto the tail",
     "AB",
     {last(), next(LL_PAST_END), prev()},
     "AB",
     2,
     'B'},
    {"add at head moves the cursor to the new head", "AB", {last(), add(LL_AT_HEAD, 'X')}, "XAB", 1, 'X'},
    {"add at tail moves the cursor to the new tail", "AB", {first(), add(LL_AT_TAIL, 'X')}, "ABX", 3, 'X'},
    {"add at cursor on the first node goes to the head",
     "AB",
     {first(), add(LL_AT_CURSOR, 'X')},
     "XAB",
     1,
     'X'},
    {"add at cursor on the last of two appends", "AB", {last(), add(LL_AT_CURSOR, 'X')}, "ABX", 3, 'X'},
    {"add at cursor on the middle inserts before it", "ABC", {to(2), add(LL_AT_CURSOR, 'X')}, "AXBC", 2, 'X'},
    {"add at cursor past the end",
     "AB",
     {last(), next(LL_PAST_END), add(LL_AT_CURSOR, 'X', LL_PAST_END)},
     "AB",
     3,
     '-'},
    {"add at cursor before the start",
     "AB",
     {first(), prev(LL_BEFORE_START), add(LL_AT_CURSOR, 'X', LL_BEFORE_START)},
     "AB",
     0,
     '-'},
    {"remove the middle node at the cursor", "ABC", {to(2), remove(LL_AT_CURSOR)}, "AC", 2, 'C'},
    {"remove at cursor on the head", "ABC", {first(), remove(LL_AT_CURSOR)}, "BC", 1, 'B'},
    {"remove at cursor on the tail", "ABC", {last(), remove(LL_AT_CURSOR), get(LL_PAST_END)}, "AB", 3, '-'},
    {"remove the head while it is the cursor", "ABC", {first(), remove(LL_AT_HEAD)}, "BC", 1, 'B'},
    {"remove the tail while it is the cursor",
     "ABC",
     {last(), remove(LL_AT_TAIL), get(LL_PAST_END)},
     "AB",
     3,
     '-'},
    {"remove the head with the cursor on the tail", "ABC", {last(), remove(LL_AT_HEAD)}, "BC", 2, 'C'},
    {"remove the tail with the cursor on the head", "ABC", {first(), remove(LL_AT_TAIL)}, "AB", 1, 'A'},
    {"remove the head with the cursor past the end",
     "ABC",
     {last(), next(LL_PAST_END), remove(LL_AT_HEAD)},
     "BC",
     3,
     '-'},
    {"remove the tail with the cursor before the start",
     "ABC",
     {first(), prev(LL_BEFORE_START), remove(LL_AT_TAIL)},
     "AB",
     0,
     '-'},
    {"remove at cursor past the end",
     "AB",
     {last(), next(LL_PAST_END), remove(LL_AT_CURSOR, LL_PAST_END)},
     "AB",
     3,
     '-'},
    {"remove at cursor before the start",
     "AB",
     {first(), prev(LL_BEFORE_START), remove(LL_AT_CURSOR, LL_BEFORE_START)},
     "AB",
     0,
     '-'},
    {"remove the last remaining node", "A", {first(), remove(LL_AT_CURSOR)}, "", 0, '-'},
    {"remove everything from the head",
     "ABC",
     {remove(LL_AT_HEAD), remove(LL_AT_HEAD), remove(LL_AT_HEAD), remove(LL_AT_HEAD, LL_EMPTY)},
     "",
     0,
     '-'},
    {"moveTo bounds", "ABC", {to(0, LL_BAD_POSITION), to(4, LL_BAD_POSITION), to(3)}, "ABC", 3, 'C'},
    {"unknown places are refused",
     "AB",
     {first(), add(3, 'X', LL_BAD_POSITION), remove(3, LL_BAD_POSITION)},
     "AB",
     1,
     'A'},
    {"removeAll then add",
     "ABC",
     {{"removeAll", ll_removeAll, LL_SUCCESS}, get(LL_EMPTY), add(LL_AT_TAIL, 'X')},
     "X",
     1,
     'X'},
};

TEST(CursorList, TableOfCases) {
    for (const ListCase& c : kCases) {
        SCOPED_TRACE(c.label);
        LL_LIST* list = ll_new();
        ASSERT_NE(list, nullptr);
        for (const char* p = c.initial; *p != '\0'; ++p)
            ASSERT_EQ(ll_add(list, letter(*p), 0, LL_AT_TAIL), LL_SUCCESS);
        for (size_t i = 0; i < c.steps.size(); ++i) {
            SCOPED_TRACE(std::to_string(i) + ": " + c.steps[i].what);
            EXPECT_EQ(c.steps[i].run(list), c.steps[i].result);
            EXPECT_TRUE(consistent(list));
        }
        EXPECT_EQ(contents(list), c.contents);
        EXPECT_EQ(ll_getIndex(list), c.index);
        EXPECT_EQ(ll_getCount(list), static_cast<int32_t>(std::string(c.contents).size()));
        void* data = nullptr;
        if (c.cursor == '-') {
            EXPECT_NE(ll_get(list, &data, nullptr), LL_SUCCESS);
        } else {
            ASSERT_EQ(ll_get(list, &data, nullptr), LL_SUCCESS);
            EXPECT_EQ(letterOf(data), c.cursor);
        }
        EXPECT_EQ(ll_delete(list), LL_SUCCESS);
    }
}

TEST(CursorList, GetHandsBackDataAndSizeTag) {
    LL_LIST* list = ll_new();
    ASSERT_EQ(ll_add(list, letter('A'), 0, LL_AT_TAIL), LL_SUCCESS);
    ASSERT_EQ(ll_add(list, letter('B'), 1, LL_AT_TAIL), LL_SUCCESS);
    std::string seen;
    std::vector<uint32_t> tags;
    void* data = nullptr;
    uint32_t size = 99;
    ll_moveFirst(list);
    while (ll_get(list, &data, &size) == LL_SUCCESS) {
        seen += letterOf(data);
        tags.push_back(size);
        ll_moveNext(list);
    }
    EXPECT_EQ(seen, "AB");
    EXPECT_EQ(tags, (std::vector<uint32_t>{0, 1}));
    ll_delete(list);
}

TEST(CursorList, NullListAndNullData) {
    void* data = nullptr;
    EXPECT_EQ(ll_delete(nullptr), LL_NULL_LIST);
    EXPECT_EQ(ll_removeAll(nullptr), LL_NULL_LIST);
    EXPECT_EQ(ll_getCount(nullptr), LL_NULL_LIST);
    EXPECT_EQ(ll_getIndex(nullptr), LL_NULL_LIST);
    EXPECT_EQ(ll_get(nullptr, &data, nullptr), LL_NULL_LIST);
    EXPECT_EQ(ll_moveFirst(nullptr), LL_NULL_LIST);
    EXPECT_EQ(ll_moveLast(nullptr), LL_NULL_LIST);
    EXPECT_EQ(ll_moveNext(nullptr), LL_NULL_LIST);
    EXPECT_EQ(ll_movePrev(nullptr), LL_NULL_LIST);
    EXPECT_EQ(ll_moveTo(nullptr, 1), LL_NULL_LIST);
    EXPECT_EQ(ll_add(nullptr, letter('A'), 0, LL_AT_TAIL), LL_NULL_LIST);
    EXPECT_EQ(ll_remove(nullptr, LL_AT_HEAD), LL_NULL_LIST);
    LL_LIST* list = ll_new();
    EXPECT_EQ(ll_add(list, nullptr, 0, LL_AT_TAIL), LL_NULL_LIST);
    EXPECT_EQ(ll_getCount(list), 0);
    ll_delete(list);
}

// The list frees its nodes only: data that is not heap memory survives a delete (the sanitizer
// build reports any attempt to free it).
TEST(CursorList, DeleteLeavesTheData) {
    char local[3] = {'A', 'B', 'C'};
    LL_LIST* list = ll_new();
    for (char& c : local)
        ASSERT_EQ(ll_add(list, &c, 0, LL_AT_TAIL), LL_SUCCESS);
    EXPECT_EQ(ll_delete(list), LL_SUCCESS);
    EXPECT_EQ(std::string(local, 3), "ABC");
}

} // namespace
