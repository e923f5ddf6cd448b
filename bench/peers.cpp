// The peers: decoders of other image libraries packaged by Debian, each used
// through its own in-memory entry point and in its most direct form, so that
// the comparison is with what an application would really call.
#include <csetjmp>
#include <cstdio>
#include <string>

#include <FreeImage.h>
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <netpbm/pam.h>
#include <opencv2/core/version.hpp>
#include <opencv2/imgcodecs.hpp>
#include <stb/stb_image.h>

#include "bench/decoders.h"

namespace {

// Netpbm's own library, reading from a memory stream: the packed rows for
// PBM (its fastest form, 8 pixels to the byte), and the whole-picture
// readers for PGM and PPM (one unsigned int per sample).
class Netpbm : public BenchDecoder {
public:
    Netpbm() { pm_init("pxm_bench", 0); }
    const char* Name() const override { return "netpbm"; }

    bool Decode(const BenchPicture& picture) override
    {
        kind_ = picture.recipe.kind;
        FILE* file = fmemopen(const_cast<uint8_t*>(picture.bytes.data()),
                              picture.bytes.size(), "rb");
        if (file == nullptr)
            return false;
        const bool ok = Read(file);
        fclose(file);
        return ok;
    }

    void Release() override
    {
        if (rows_ != nullptr)
            pm_freearray(rows_, height_);
        rows_ = nullptr;
    }

    std::vector<uint8_t> Samples(const BenchPicture& picture) const override
    {
        std::vector<uint8_t> out;
        out.reserve(picture.samples.size());
        for (int y = 0; y < height_; ++y) {
            for (int x = 0; x < width_; ++x) {
                if (kind_ % 3 == 1) {
                    const auto* row = reinterpret_cast<const unsigned char*>(rows_[y]);
                    out.push_back(uint8_t((row[x >> 3] >> (7 - (x & 7))) & 1));
                } else if (kind_ % 3 == 2) {
                    out.push_back(uint8_t(reinterpret_cast<const gray*>(rows_[y])[x]));
                } else {
                    const pixel p = reinterpret_cast<const pixel*>(rows_[y])[x];
                    out.push_back(uint8_t(PPM_GETR(p)));
                    out.push_back(uint8_t(PPM_GETG(p)));
                    out.push_back(uint8_t(PPM_GETB(p)));
                }
            }
        }
        return out;
    }

private:
    // Netpbm reports errors by a long jump; nothing here needs unwinding.
    bool Read(FILE* file)
    {
        jmp_buf jump;
        jmp_buf* previous;
        pm_setjmpbufsave(&jump, &previous);
        if (setjmp(jump) != 0) {
            pm_setjmpbuf(previous);
            rows_ = nullptr;
            return false;
        }
        if (kind_ % 3 == 1) {
            int format;
            pbm_readpbminit(file, &width_, &height_, &format);
            unsigned char** rows = pbm_allocarray_packed(width_, height_);
            for (int y = 0; y < height_; ++y)
                pbm_readpbmrow_packed(file, rows[y], width_, format);
            rows_ = reinterpret_cast<char**>(rows);
        } else if (kind_ % 3 == 2) {
            gray maxval;
            rows_ = reinterpret_cast<char**>(pgm_readpgm(file, &width_, &height_, &maxval));
        } else {
            pixval maxval;
            rows_ = reinterpret_cast<char**>(ppm_readppm(file, &width_, &height_, &maxval));
        }
        pm_setjmpbuf(previous);
        return true;
    }

    int kind_ = 0;
    int width_ = 0;
    int height_ = 0;
    char** rows_ = nullptr;
};

class StbImage : public BenchDecoder {
public:
    const char* Name() const override { return "stb_image"; }
    bool Decode(const BenchPicture& picture) override
    {
        pixels_ = stbi_load_from_memory(picture.bytes.data(), int(picture.bytes.size()),
                                        &width_, &height_, &channels_, 0);
        return pixels_ != nullptr;
    }
    void Release() override
    {
        stbi_image_free(pixels_);
        pixels_ = nullptr;
    }
    std::vector<uint8_t> Samples(const BenchPicture&) const override
    {
        return std::vector<uint8_t>(pixels_, pixels_ + size_t(width_) * size_t(height_) *
                                                           size_t(channels_));
    }

private:
    unsigned char* pixels_ = nullptr;
    int width_ = 0, height_ = 0, channels_ = 0;
};

// gdk-pixbuf's incremental loader, given the whole file in one write. It
// always makes RGB (or RGBA) pixels.
class GdkPixbufLoad : public BenchDecoder {
public:
    const char* Name() const override { return "gdk-pixbuf"; }
    bool Decode(const BenchPicture& picture) override
    {
        GdkPixbufLoader* loader = gdk_pixbuf_loader_new_with_type("pnm", nullptr);
        if (loader == nullptr)
            return false;
        const bool written =
            gdk_pixbuf_loader_write(loader, picture.bytes.data(), picture.bytes.size(), nullptr);
        const bool closed = gdk_pixbuf_loader_close(loader, nullptr);
        if (written && closed) {
            pixbuf_ = gdk_pixbuf_loader_get_pixbuf(loader);
            if (pixbuf_ != nullptr)
                g_object_ref(pixbuf_);
        }
        g_object_unref(loader);
        return pixbuf_ != nullptr;
    }
    void Release() override
    {
        if (pixbuf_ != nullptr)
            g_object_unref(pixbuf_);
        pixbuf_ = nullptr;
    }
    std::vector<uint8_t> Samples(const BenchPicture& picture) const override
    {
        const int width = gdk_pixbuf_get_width(pixbuf_);
        const int height = gdk_pixbuf_get_height(pixbuf_);
        const int channels = gdk_pixbuf_get_n_channels(pixbuf_);
        const int stride = gdk_pixbuf_get_rowstride(pixbuf_);
        const guchar* pixels = gdk_pixbuf_read_pixels(pixbuf_);
        std::vector<uint8_t> out;
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const guchar* p =
                    pixels + size_t(y) * size_t(stride) + size_t(x) * size_t(channels);
                if (picture.recipe.kind % 3 == 1)
                    out.push_back(p[0] < 128 ? 1 : 0);
                else if (picture.recipe.kind % 3 == 2)
                    out.push_back(p[0]);
                else
                    out.insert(out.end(), p, p + 3);
            }
        }
        return out;
    }

private:
    GdkPixbuf* pixbuf_ = nullptr;
};

// FreeImage's memory stream with the format named, as a caller that knows
// the file's type does. Its bitmaps are bottom-up DIBs too.
class FreeImageLoad : public BenchDecoder {
public:
    FreeImageLoad() { FreeImage_Initialise(FALSE); }
    ~FreeImageLoad() override { FreeImage_DeInitialise(); }
    const char* Name() const override { return "FreeImage"; }
    bool Decode(const BenchPicture& picture) override
    {
        static const FREE_IMAGE_FORMAT kFormats[7] = {FIF_UNKNOWN, FIF_PBM, FIF_PGM, FIF_PPM,
                                                      FIF_PBMRAW, FIF_PGMRAW, FIF_PPMRAW};
        FIMEMORY* memory = FreeImage_OpenMemory(const_cast<BYTE*>(picture.bytes.data()),
                                                DWORD(picture.bytes.size()));
        if (memory == nullptr)
            return false;
        bitmap_ = FreeImage_LoadFromMemory(kFormats[picture.recipe.kind], memory, 0);
        FreeImage_CloseMemory(memory);
        return bitmap_ != nullptr;
    }
    void Release() override
    {
        if (bitmap_ != nullptr)
            FreeImage_Unload(bitmap_);
        bitmap_ = nullptr;
    }
    std::vector<uint8_t> Samples(const BenchPicture&) const override
    {
        const int width = int(FreeImage_GetWidth(bitmap_));
        const int height = int(FreeImage_GetHeight(bitmap_));
        const unsigned bpp = FreeImage_GetBPP(bitmap_);
        const RGBQUAD* palette = FreeImage_GetPalette(bitmap_);
        std::vector<uint8_t> out;
        for (int y = 0; y < height; ++y) {
            const BYTE* row = FreeImage_GetScanLine(bitmap_, height - 1 - y);
            for (int x = 0; x < width; ++x) {
                if (bpp == 1) {
                    const int index = (row[x >> 3] >> (7 - (x & 7))) & 1;
                    out.push_back(palette[index].rgbRed < 128 ? 1 : 0);
                } else if (bpp == 8) {
                    out.push_back(palette != nullptr ? palette[row[x]].rgbRed : row[x]);
                } else {
                    const BYTE* p = row + size_t(x) * (bpp / 8);
                    out.push_back(p[FI_RGBA_RED]);
                    out.push_back(p[FI_RGBA_GREEN]);
                    out.push_back(p[FI_RGBA_BLUE]);
                }
            }
        }
        return out;
    }

private:
    FIBITMAP* bitmap_ = nullptr;
};

// OpenCV's imdecode over the bytes in place. PBM comes out as 0 and 255
// greys, colour as blue, green, red.
class OpenCv : public BenchDecoder {
public:
    const char* Name() const override { return "OpenCV"; }
    bool Decode(const BenchPicture& picture) override
    {
        const cv::Mat input(1, int(picture.bytes.size()), CV_8UC1,
                            const_cast<uint8_t*>(picture.bytes.data()));
        image_ = cv::imdecode(input, cv::IMREAD_UNCHANGED);
        return !image_.empty();
    }
    void Release() override { image_.release(); }
    std::vector<uint8_t> Samples(const BenchPicture& picture) const override
    {
        std::vector<uint8_t> out;
        if (image_.depth() != CV_8U)
            return out;
        const int channels = image_.channels();
        for (int y = 0; y < image_.rows; ++y) {
            const uint8_t* row = image_.ptr<uint8_t>(y);
            for (int x = 0; x < image_.cols; ++x) {
                const uint8_t* p = row + size_t(x) * size_t(channels);
                if (picture.recipe.kind % 3 == 1) {
                    out.push_back(p[0] < 128 ? 1 : 0);
                } else if (channels == 1) {
                    out.push_back(p[0]);
                } else {
                    out.push_back(p[2]);
                    out.push_back(p[1]);
                    out.push_back(p[0]);
                }
            }
        }
        return out;
    }

private:
    cv::Mat image_;
};

} // namespace

std::vector<std::unique_ptr<BenchDecoder>> MakePeers()
{
    std::vector<std::unique_ptr<BenchDecoder>> peers;
    peers.push_back(std::make_unique<Netpbm>());
    peers.push_back(std::make_unique<StbImage>());
    peers.push_back(std::make_unique<GdkPixbufLoad>());
    peers.push_back(std::make_unique<FreeImageLoad>());
    peers.push_back(std::make_unique<OpenCv>());
    return peers;
}

std::string PeerVersions()
{
    return std::string("netpbm ") + KELDA_BENCH_NETPBM_VERSION + ", stb_image, gdk-pixbuf " +
           GDK_PIXBUF_VERSION +
           ", FreeImage " + FreeImage_GetVersion() + ", OpenCV " + CV_VERSION;
}
