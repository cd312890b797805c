#pragma once
// ImageStream: an image file read front to back in large blocks, handed out
// as views into the block. Memory stays at one block whatever the image size.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <vector>

namespace firmora::download {

class ImageStream {
public:
    static constexpr size_t kBlockSize = 1024 * 1024;

    // False when the file cannot be opened for reading (LastError set).
    bool Open(const std::filesystem::path& path);
    // Positions the next read at `offset` bytes from the start.
    bool Seek(uint64_t offset);
    // Hands out the next `length` bytes (at most kBlockSize) as `data`, a
    // view into the block that stays valid until the next call; `got` tells
    // how many there were (fewer only at the end of the file). False on a
    // read error; `got` then counts the bytes read before it.
    bool Next(size_t length, const uint8_t*& data, size_t& got);
    void Close();

private:
    std::ifstream file_;
    std::vector<char> block_;
    size_t position_ = 0;  // next unread byte of block_
    size_t filled_ = 0;    // bytes of block_ holding file data
};

}  // namespace firmora::download
