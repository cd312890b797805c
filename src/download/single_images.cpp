#include "download/single_images.h"

namespace firmora::download {

std::span<const SingleImage, kSingleImageCount> SingleImages() {
    using O = package::DownloadOptions;
    static constexpr SingleImage kImages[kSingleImageCount] = {
        {&O::bFastbootRamdisk_recoveryImage, "ramdisk_recovery.img", FixedFlash::Recovery,
         "Download recovery image successfully"},
        {&O::bFastbootBootImage, "boot.img", FixedFlash::Boot, "Download boot image successfully"},
        {&O::bFastbootPrimary_gpt, "primary_gpt", FixedFlash::Primary, "Download primary image successfully"},
        {&O::bFastbootSecondary_gpt, "secondary_gpt", FixedFlash::Secondary, "Download secondary image successfully"},
        {&O::bFastbootzImage, "zImage", FixedFlash::Kernel, "Download zImage image successfully"},
        {&O::bFastbootRamdisk, "ramdisk.img", FixedFlash::Ramdisk, "Download ramdisk image successfully"},
        {&O::bFastbootSystemImage, "system.img", FixedFlash::System, "Download system image successfully"},
        {&O::bFastbootUserdataImage, "userdata.img", FixedFlash::Userdata, "Download userdata image successfully"},
        // Reported under the splash image's name, as its flash operation is.
        {&O::bFastbootzImage_recoveryImage, "zImage_recovery", FixedFlash::Reckernel,
         "Download splash image successfully"},
    };
    return std::span<const SingleImage, kSingleImageCount>(kImages);
}

}  // namespace firmora::download
