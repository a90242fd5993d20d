#include "tests/hal/halFixture.h"

#include "osal/osalTime.h"

#include <cstdlib>

std::vector<uint32_t> HalTest::sSleeps;
int HalTest::sProgress = 0;

void HalTest::SetUp() {
    sSleeps.clear();
    sProgress = 0;
    osal_setSleepFunction([](uint32_t ms) { sSleeps.push_back(ms); });
    savedOptions_ = gSharedVars;
    log_ = std::make_unique<LogCapture>();
    use(kOstrel);
}

void HalTest::TearDown() {
    if (hi_ != nullptr) {
        EXPECT_EQ(close(), 0u);
    }
    ZELKOR_REGION_LIST* node = handle_.regions;
    while (node != nullptr) {
        ZELKOR_REGION_LIST* next = node->next;
        std::free(node);
        node = next;
    }
    handle_.regions = nullptr;
    log_.reset();
    gSharedVars = savedOptions_;
    osal_setSleepFunction(nullptr);
}

void HalTest::use(const FamilyCase& family) {
    if (hi_ != nullptr) {
        EXPECT_EQ(close(), 0u);
    }
    family_ = &family;
    gModel.reset(family.model, family.chipType);
    ZELKOR_REGION_LIST* node = handle_.regions;
    while (node != nullptr) {
        ZELKOR_REGION_LIST* next = node->next;
        std::free(node);
        node = next;
    }
    handle_ = ZELKOR_INSTANCE{};
    handle_.ialEntry = &interfaceEntry_;
    handle_.ialVectors = modelInterfaceVectors();
    handle_.ialInstance = &gModel;
    handle_.designatedRegions = 1;
    handle_.log = zelkor_messageLog;
    handle_.progress = [](int32_t, int32_t) { ++sProgress; };
    handle_.options = &gSharedVars;
    gModel.handle = &handle_;
}

ZELKOR_STATUS HalTest::open() {
    return op<HAL_OPEN_FUNCTION>("zelkor_hal_open")(&handle_, &hi_, family_->chipType);
}

ZELKOR_STATUS HalTest::close() {
    const ZELKOR_STATUS status = op<HAL_INSTANCE_FUNCTION>("zelkor_hal_close")(hi_);
    if (status == 0)
        hi_ = nullptr;
    return status;
}

std::vector<ZELKOR_REGION> HalTest::regions() const {
    std::vector<ZELKOR_REGION> rows;
    for (const ZELKOR_REGION_LIST* node = handle_.regions; node != nullptr; node = node->next)
        rows.push_back(node->region);
    return rows;
}

std::vector<Access> HalTest::accesses() const {
    std::vector<Access> result;
    for (const InterfaceCall& c : gModel.calls) {
        if (c.region.kind != ZELKOR_REGION_MEMORY || c.size != 4)
            continue;
        uint32_t word = 0;
        if (c.op == "download")
            std::memcpy(&word, c.data.data(), 4);
        result.emplace_back(c.op == "download" ? 'W' : 'R', c.region.base + c.offset, word);
    }
    return result;
}
