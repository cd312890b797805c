// nv.bak, the NV items the tool saved: records of 130 bytes, the item number
// (little-endian) and its 128 data bytes.
//
// Properties: a file reads exactly when its size is a multiple of 130, into
// one record a 130 bytes, each the number and the data at its own place (so
// nothing read lies outside the file and every record has its full size);
// what reads writes back to the very same bytes; and records the writer
// made read back to the same records.

#include <algorithm>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "fuzz_check.h"
#include "preserve/nv_backup_file.h"

namespace {

using namespace firmora::preserve;

bool SameRecord(const NvRecord& a, const NvRecord& b) { return a.number == b.number && a.data == b.data; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::span<const uint8_t> file(data, size);
    const std::optional<std::vector<NvRecord>> records = DecodeNvBackup(file);
    FUZZ_CHECK(records.has_value() == (size % kNvRecordBytes == 0));
    if (records) {
        FUZZ_CHECK(records->size() * kNvRecordBytes == size);
        for (size_t i = 0; i < records->size(); ++i) {
            const uint8_t* at = data + i * kNvRecordBytes;
            FUZZ_CHECK((*records)[i].number == (at[0] | at[1] << 8));
            FUZZ_CHECK(std::equal((*records)[i].data.begin(), (*records)[i].data.end(), at + 2));
        }
        const std::vector<uint8_t> again = EncodeNvBackup(*records);
        FUZZ_CHECK(std::equal(again.begin(), again.end(), file.begin(), file.end()));
    }

    // Records made from the input, whatever its size: the last one takes
    // what is left, padded with zeros.
    std::vector<NvRecord> made;
    for (size_t at = 0; at < size; at += kNvRecordBytes) {
        NvRecord record;
        record.number = static_cast<uint16_t>(data[at] | (at + 1 < size ? data[at + 1] : 0) << 8);
        const size_t end = std::min(size, at + kNvRecordBytes);
        if (at + 2 < end) std::copy(data + at + 2, data + end, record.data.begin());
        made.push_back(record);
    }
    const std::vector<uint8_t> written = EncodeNvBackup(made);
    FUZZ_CHECK(written.size() == made.size() * kNvRecordBytes);
    const std::optional<std::vector<NvRecord>> read = DecodeNvBackup(written);
    FUZZ_CHECK(read && std::equal(read->begin(), read->end(), made.begin(), made.end(), SameRecord));
    return 0;
}
