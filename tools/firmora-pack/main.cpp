// firmora-pack: makes a product executable from a package folder.

#include <exception>
#include <iostream>

#include "platform/posix/zip_resource_bundle.h"
#include "product_pack.h"

int main(int argc, char** argv) {
    try {
        return firmora::pack::Main({argv + 1, argv + argc}, firmora::platform::RunningProgramFile().parent_path(),
                                   std::cout, std::cerr);
    } catch (const std::exception& e) {
        std::cerr << "firmora-pack: " << e.what() << '\n';
        return 1;
    }
}
