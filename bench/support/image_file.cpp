#include "support/image_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "sim/partition_store.h"

namespace firmora::bench {

std::string WritePatternedImage(const std::string& path, uint64_t byteCount) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) throw std::runtime_error("cannot create " + path + ": " + std::strerror(errno));
    std::vector<uint8_t> block(1u << 20);
    sim::StreamDigest digest;
    uint64_t state = 0x9e3779b97f4a7c15ull;
    for (uint64_t left = byteCount; left > 0;) {
        // xorshift64: cheap bytes that differ from block to block.
        for (size_t i = 0; i + 8 <= block.size(); i += 8) {
            state ^= state << 13;
            state ^= state >> 7;
            state ^= state << 17;
            std::memcpy(&block[i], &state, 8);
        }
        const size_t piece = static_cast<size_t>(std::min<uint64_t>(left, block.size()));
        for (size_t done = 0; done < piece;) {
            const ssize_t written = ::write(fd, block.data() + done, piece - done);
            if (written < 0 && errno == EINTR) continue;
            if (written <= 0) {
                const int error = errno;
                ::close(fd);
                throw std::runtime_error("cannot write " + path + ": " + std::strerror(error));
            }
            done += static_cast<size_t>(written);
        }
        digest.Update(block.data(), piece);
        left -= piece;
    }
    if (::close(fd) != 0) throw std::runtime_error("cannot write " + path + ": " + std::strerror(errno));
    return sim::DigestHex(digest.Value());
}

}  // namespace firmora::bench
