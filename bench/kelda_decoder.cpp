// The two copies and kelda's core as benchmark decoders.
#include <cstdlib>
#include <cstring>

#include "bench/decoders.h"
#include "pxm/pxm.h"

namespace {

class ReferenceCopyDecoder : public BenchDecoder {
public:
    const char* Name() const override { return "reference copy"; }
    bool HasPixels() const override { return false; }
    bool Decode(const BenchPicture& picture) override
    {
        block_ = static_cast<uint8_t*>(malloc(picture.DibSize()));
        if (block_ == nullptr)
            return false;
        ReferenceCopy(picture, block_);
        return true;
    }
    void Release() override
    {
        free(block_);
        block_ = nullptr;
    }
    std::vector<uint8_t> Samples(const BenchPicture&) const override { return {}; }

private:
    uint8_t* block_ = nullptr;
};

class DibShapedCopyDecoder : public BenchDecoder {
public:
    const char* Name() const override { return "DIB-shaped copy"; }
    bool Applies(const BenchPicture& picture) const override { return picture.recipe.kind > 3; }
    bool Decode(const BenchPicture& picture) override
    {
        block_ = static_cast<uint8_t*>(malloc(picture.DibSize()));
        return block_ != nullptr && DibShapedCopy(picture, block_);
    }
    void Release() override
    {
        free(block_);
        block_ = nullptr;
    }
    std::vector<uint8_t> Samples(const BenchPicture& picture) const override
    {
        return picture.SamplesFromDib(block_);
    }

private:
    uint8_t* block_ = nullptr;
};

void* Allocate(size_t size)
{
    return malloc(size);
}

const PxmAllocator kMalloc = {Allocate, free};

class Kelda : public BenchDecoder {
public:
    const char* Name() const override { return "kelda"; }
    bool Decode(const BenchPicture& picture) override
    {
        info_ = pixels_ = nullptr;
        const int32_t result = DecodePicture(picture.bytes.data(), picture.bytes.size(), kMalloc,
                                             nullptr, 0, &info_, &pixels_);
        return result == kPxmSuccess;
    }
    void Release() override
    {
        free(info_);
        free(pixels_);
        info_ = pixels_ = nullptr;
    }
    std::vector<uint8_t> Samples(const BenchPicture& picture) const override
    {
        return picture.SamplesFromDib(static_cast<const uint8_t*>(pixels_));
    }

private:
    void* info_ = nullptr;
    void* pixels_ = nullptr;
};

} // namespace

std::unique_ptr<BenchDecoder> MakeReferenceCopy()
{
    return std::make_unique<ReferenceCopyDecoder>();
}

std::unique_ptr<BenchDecoder> MakeDibShapedCopy()
{
    return std::make_unique<DibShapedCopyDecoder>();
}

std::unique_ptr<BenchDecoder> MakeKelda()
{
    return std::make_unique<Kelda>();
}
