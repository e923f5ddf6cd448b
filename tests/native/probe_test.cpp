// ProbePicture: whether the host's value is a handle or an address, and how
// much is read from each.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "pxm/pxm.h"
#include "tests/native/support.h"

namespace {

// What the probe asked of the host's side.
struct Asked {
    std::vector<uintptr_t> handles;   // readHandle's handle
    std::vector<size_t> capacities;   // readHandle's capacity
    std::vector<uintptr_t> addresses; // readableAt's address
    std::vector<size_t> wanted;       // readableAt's count
    std::string handleBytes;          // what a handle delivers
    size_t readable = 0;              // what an address holds
};

Asked* gAsked;

size_t ReadHandle(uintptr_t handle, uint8_t* buffer, size_t capacity)
{
    gAsked->handles.push_back(handle);
    gAsked->capacities.push_back(capacity);
    const size_t n = gAsked->handleBytes.size() < capacity ? gAsked->handleBytes.size() : capacity;
    memcpy(buffer, gAsked->handleBytes.data(), n);
    return n;
}

size_t ReadableAt(uintptr_t address, size_t wanted)
{
    gAsked->addresses.push_back(address);
    gAsked->wanted.push_back(wanted);
    return gAsked->readable < wanted ? gAsked->readable : wanted;
}

const PxmProbeReader kReader = {ReadHandle, ReadableAt};

TEST(ProbePicture, ValuesBelow0x10000AreHandlesAndFromItOnAddresses)
{
    // The boundary holds on every platform, 64-bit ones included, where no
    // test can map memory at 0x10000 itself.
    struct Case {
        uintptr_t source;
        bool handle;
    };
    const Case cases[] = {
        {0, true},        {1, true},           {0xFFFF, true},
        {0x10000, false}, {0x10001, false},    {0x7FFFFFFF, false},
        {UINTPTR_MAX, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("source " + std::to_string(c.source));
        Asked asked;
        asked.handleBytes = "P6\n";
        gAsked = &asked; // an address that holds nothing readable is never read
        const int32_t result = ProbePicture(c.source, kReader);
        if (c.handle) {
            EXPECT_EQ(asked.handles, std::vector<uintptr_t>{c.source});
            EXPECT_EQ(asked.capacities, std::vector<size_t>{100}) << "a hundred bytes";
            EXPECT_TRUE(asked.addresses.empty());
            EXPECT_EQ(result, 1);
        } else {
            EXPECT_TRUE(asked.handles.empty());
            EXPECT_EQ(asked.addresses, std::vector<uintptr_t>{c.source});
            EXPECT_EQ(asked.wanted, std::vector<size_t>{4}) << "at most the four deciding bytes";
            EXPECT_EQ(result, 0);
        }
    }
}

TEST(ProbePicture, ReadsOnlyWhatIsThere)
{
    // Memory data in heap blocks of exactly their size: a read past them is
    // reported by the sanitizer.
    struct Case {
        std::string data;
        int32_t want;
    };
    const Case cases[] = {
        {"P6\n", 1}, {"P1\r\n", 1}, {"P1\r", 0}, {"P5", 0}, {"P", 0}, {"", 0},
        {"P3\n\r", 1}, {"P5\rx", 0}, {"P7\n", 0}, {"p6\n", 0}, {"P2 ", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("data " + Escaped(c.data));
        const ExactBytes data(c.data);
        Asked asked;
        asked.readable = data.size();
        gAsked = &asked;
        // A block of no bytes still has an address above 0x10000.
        uint8_t none[1];
        const uintptr_t address = reinterpret_cast<uintptr_t>(data.size() ? data.data() : none);
        ASSERT_GE(address, kPxmFirstAddress);
        EXPECT_EQ(ProbePicture(address, kReader), c.want);

        // The same bytes through a handle that delivers no more.
        Asked fromHandle;
        fromHandle.handleBytes = c.data;
        gAsked = &fromHandle;
        EXPECT_EQ(ProbePicture(5, kReader), c.want) << "through a handle";
    }
}

} // namespace
