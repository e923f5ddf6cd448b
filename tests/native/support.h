// Helpers shared by the tests of the codec core.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

// The bytes of a string in a heap block of exactly their size, so that the
// sanitizer reports any read past them.
class ExactBytes {
public:
    explicit ExactBytes(const std::string& s) : size_(s.size()), bytes_(new uint8_t[s.size()])
    {
        memcpy(bytes_.get(), s.data(), s.size());
    }
    const uint8_t* data() const { return bytes_.get(); }
    size_t size() const { return size_; }
    int32_t length() const { return int32_t(size_); }
    std::string str() const { return std::string(reinterpret_cast<const char*>(data()), size_); }

private:
    size_t size_;
    std::unique_ptr<uint8_t[]> bytes_;
};

// A string as a C literal, for failure messages: "P5\n3 2\n\x00".
std::string Escaped(const std::string& s);
