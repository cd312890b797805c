#include "download/image_stream.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/last_error.h"

namespace firmora::download {

namespace {

// The C library's code for the failure just seen, or EIO when it left none.
void RecordError() {
    const int code = errno;
    platform::SetLastError(code != 0 ? static_cast<uint32_t>(code) : EIO);
}

}  // namespace

bool ImageStream::Open(const std::filesystem::path& path) {
    Close();
    errno = 0;
    file_.open(path, std::ios::binary);
    if (!file_.is_open()) {
        RecordError();
        return false;
    }
    block_.resize(kBlockSize);
    return true;
}

bool ImageStream::Seek(uint64_t offset) {
    position_ = filled_ = 0;
    file_.clear();
    errno = 0;
    if (!file_.seekg(static_cast<std::streamoff>(offset), std::ios::beg)) {
        RecordError();
        return false;
    }
    return true;
}

bool ImageStream::Next(size_t length, const uint8_t*& data, size_t& got) {
    length = std::min(length, block_.size());
    bool ok = true;
    if (filled_ - position_ < length) {
        // Keep the unread tail and top the block up behind it. A caller that
        // takes whole blocks from the start never leaves a tail to move.
        const size_t tail = filled_ - position_;
        std::memmove(block_.data(), block_.data() + position_, tail);
        position_ = 0;
        filled_ = tail;
        errno = 0;
        file_.read(block_.data() + tail, static_cast<std::streamsize>(block_.size() - tail));
        if (file_.bad()) {
            RecordError();
            ok = false;  // what came with the failing read is not trusted
        } else {
            filled_ += static_cast<size_t>(file_.gcount());
        }
    }
    got = std::min(length, filled_ - position_);
    data = reinterpret_cast<const uint8_t*>(block_.data() + position_);
    position_ += got;
    return ok;
}

void ImageStream::Close() {
    if (file_.is_open()) file_.close();
    file_.clear();
    position_ = filled_ = 0;
}

}  // namespace firmora::download
