// Every red/blue exchange path that this processor offers against the
// portable one, at every row length around the SIMD block sizes, with guard
// bytes on both sides of the destination.
#include <gtest/gtest.h>

#include <vector>

#include "pxm/swap.h"

namespace {

TEST(SwapRedBlue, EveryPathMatchesThePortableOne)
{
    const PxmSwapPath paths[] = {kPxmSwapPortable, kPxmSwapSsse3, kPxmSwapAvx2};
    int tried = 0;
    for (PxmSwapPath path : paths) {
        if (!PxmSwapPathAvailable(path))
            continue;
        ++tried;
        for (size_t pixels = 0; pixels < 70; ++pixels) {
            std::vector<uint8_t> source(3 * pixels);
            for (size_t i = 0; i < source.size(); ++i)
                source[i] = uint8_t(i * 37 + 11);
            std::vector<uint8_t> want(3 * pixels + 64, 0xEE), have(3 * pixels + 64, 0xEE);
            for (size_t i = 0; i < pixels; ++i) {
                want[32 + 3 * i] = source[3 * i + 2];
                want[32 + 3 * i + 1] = source[3 * i + 1];
                want[32 + 3 * i + 2] = source[3 * i];
            }
            PxmSwapRedBlue(path, source.data(), have.data() + 32, pixels);
            ASSERT_EQ(have, want) << "path " << path << ", " << pixels << " pixels";
        }
    }
    EXPECT_GE(tried, 1);
    EXPECT_TRUE(PxmSwapPathAvailable(PxmBestSwapPath()));
}

} // namespace
