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

bool ImageStream::Read(uint8_t* out, size_t length, size_t& got) {
    got = 0;
    while (got < length) {
        if (position_ == filled_) {
            errno = 0;
            file_.read(block_.data(), static_cast<std::streamsize>(block_.size()));
            if (file_.bad()) {
                RecordError();
                return false;
            }
            position_ = 0;
            filled_ = static_cast<size_t>(file_.gcount());
            if (filled_ == 0) return true;  // end of file
        }
        const size_t take = std::min(length - got, filled_ - position_);
        std::memcpy(out + got, block_.data() + position_, take);
        position_ += take;
        got += take;
    }
    return true;
}

void ImageStream::Close() {
    if (file_.is_open()) file_.close();
    file_.clear();
    position_ = filled_ = 0;
}

}  // namespace firmora::download
