#pragma once
// The programs' data files (NV item lists, scenarios, the port table) are
// read from folders beside the program, where they can be read and
// changed. The build also compiles a copy of each folder into the programs
// that use it, so that a program alone, such as a product executable moved
// anywhere, still has them: a loader falls back to the copy only when the
// folder beside the program is missing, never when a file in it is broken.

#include <span>
#include <string_view>

namespace firmora::platform {

struct BuiltinFile {
    std::string_view name;  // the file's name in its folder
    std::string_view text;
};

// The copy of `name` among `files`, nullptr when there is none.
inline const BuiltinFile* FindBuiltinFile(std::span<const BuiltinFile> files, std::string_view name) {
    for (const BuiltinFile& file : files) {
        if (file.name == name) return &file;
    }
    return nullptr;
}

}  // namespace firmora::platform
