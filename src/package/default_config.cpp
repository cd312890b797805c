#include "package/default_config.h"

namespace firmora::package {

std::string_view DefaultConfigText() {
    // Keys that the parse does not read (bBackupARM11Files, [ARM11Files],
    // [SHIFTDEVICE], [DeviceIP]) are for the external helper programs and
    // must stay in the file as shipped.
    static constexpr std::string_view kText =
        "[Project]\r\n"
        "Caption = Firmora MDM9x15 Update Tool\r\n"
        "Version = v2.0.2\r\n"
        "Project = MDM9x15\r\n"
        "LTEType = LTE\r\n"
        "[Start_AT]\r\n"
        "AT1 = AT+CFUN=5\r\n"
        "[DownloadItems]\r\n"
        "bFastbootConfiguration=1\r\n"
        "bSwitchFastbootMode=0\r\n"
        "bRpmBootloader=0\r\n"
        "bBootloader=0\r\n"
        "bEnprg9x15=0\r\n"
        "bAppsBootloader=0\r\n"
        "bEFS=0\r\n"
        "bBackup=1\r\n"
        "bRestore=1\r\n"
        "bBackupARM11Files = 0\r\n"
        "[FastbootDownloadFiles]\r\n"
        "DL0 = sbl | sbl1.mbn\r\n"
        "DL1 = tz | tz.mbn\r\n"
        "DL2 = rpm| rpm.mbn\r\n"
        "DL3 = aboot | appsboot.mbn\r\n"
        "DL4 = system | erase\r\n"
        "DL5 = system | mdm9607sysfs.ubi\r\n"
        "DL6 = modem | erase\r\n"
        "DL7 = modem | NONHLOS.ubi\r\n"
        "DL8 = boot | boot9607.img\r\n"
        "DL9 = efs2 | efs.mbn\r\n"
        "DL10 = cdrom | erase\r\n"
        "DL11 = cdrom | cdrom.ubi\r\n"
        "[ARM11Files]\r\n"
        "[End_AT]\r\n"
        "AT1 = AT+CFUN=1\r\n"
        "[SHIFTDEVICE]\r\n"
        "SCSICMD=06,f5,04,02,52,73\r\n"
        "SCSIDEVICE=USBSTOR\\CdRomUSBModemDisk____________2.31\r\n"
        "[DeviceIP]\r\n"
        "IP = 192.168.1.1\r\n"
        "IP_Fact = 192.168.0.1\r\n";
    return kText;
}

}  // namespace firmora::package
