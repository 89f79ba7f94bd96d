#pragma once

// A machine's kernel files in a tree of a test's own, as the helper's policy
// and the port finder read them: parport0 at 0x378 (ECP block at 0x778) held
// by lp0, parport1 at 0xDC00 (ECP block at 0xE000) on a PCI card, parport2 a
// USB adapter at base 0, parport3 at 0x3BC (four registers, no ECP block); a
// PCI UART, a PCI communication controller and a network card, each with I/O
// ranges; a USB printer adapter; the ppdev devices and the helper's file.
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>

inline void writeFile(const std::filesystem::path &file, const char *text)
{
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file) << text;
}

inline void makeSystemTree(const std::filesystem::path &root)
{
    const std::filesystem::path parport = root / "proc/sys/dev/parport";
    for (const auto &[name, base, modes, irq, active] :
         {std::tuple{"parport0", "888\t1912\n", "PCSPP,TRISTATE,COMPAT,EPP,ECP\n", "7\n", "lp0\n"},
          std::tuple{"parport1", "56320\t57344\n", "PCSPP,TRISTATE\n", "-1\n", "none\n"},
          std::tuple{"parport2", "0\t0\n", "PCSPP\n", "-1\n", "none\n"},
          std::tuple{"parport3", "956\t0\n", "PCSPP\n", "5\n", "none\n"}}) {
        writeFile(parport / name / "base-addr", base);
        writeFile(parport / name / "modes", modes);
        writeFile(parport / name / "irq", irq);
        writeFile(parport / name / "devices/active", active);
    }
    writeFile(parport / "default/timeslice", "200\n");
    const std::filesystem::path pci = root / "sys/bus/pci/devices";
    for (const auto &[device, type, vendor, id, range, driver] :
         {std::tuple{"0000:00:04.0", "0x070002", "0x1b36", "0x0002",
                     "0x000000000000c050 0x000000000000c057", "serial"},
          std::tuple{"0000:00:05.0", "0x020000", "0x8086", "0x100e",
                     "0x000000000000c000 0x000000000000c03f", "e1000"},
          std::tuple{"0000:00:06.0", "0x070102", "0x1c00", "0x3050",
                     "0x000000000000dc00 0x000000000000dc07 0x0000000000040101\n"
                     "0x000000000000e000 0x000000000000e007",
                     "parport_pc"},
          std::tuple{"0000:00:07.0", "0x078000", "0x10b5", "0x9050",
                     "0x000000000000d000 0x000000000000d00f", ""}}) {
        writeFile(pci / device / "class", type);
        writeFile(pci / device / "vendor", vendor);
        writeFile(pci / device / "device", id);
        std::ofstream(pci / device / "resource")
            << "0x00000000fe000000 0x00000000fe000fff 0x0000000000040200\n"
            << range << " 0x0000000000040101\n";
        if (*driver)
            std::filesystem::create_directory_symlink(
                std::string("../../../bus/pci/drivers/") + driver, pci / device / "driver");
    }
    const std::filesystem::path usb = root / "sys/devices/pci0000:00/0000:00:1d.0/usb1/1-1";
    writeFile(usb / "idVendor", "067b\n");
    writeFile(usb / "idProduct", "2305\n");
    writeFile(usb / "product", "IEEE-1284 Controller\n");
    std::filesystem::create_directories(usb / "1-1:1.0");
    std::filesystem::create_directories(root / "sys/class/usbmisc/lp0");
    std::filesystem::create_directory_symlink(usb / "1-1:1.0",
                                              root / "sys/class/usbmisc/lp0/device");
    for (const char *device : {"dev/usb/lp0", "dev/parport0", "dev/parport1", "dev/parport2",
                               "usr/libexec/portpanel/portpanel-helper"})
        writeFile(root / device, "");
}
