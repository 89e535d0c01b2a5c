#pragma once
// Which machine starts from a disk: the +3 and the PCWs load the boot
// sector (cylinder 0, head 0, sector 1) and run it only when its 512 bytes
// add up, mod 256, to their own number. Byte 15 of the disk specification
// is there to make the sum come out.

#include <cstdint>

enum class BootMachine { None, Plus3, Pcw8256, Pcw9512 };

// "+3", "PCW8256", "PCW9512"; "" for None.
const char* BootMachineName(BootMachine machine);
// The machine whose sum the 512 bytes make; None when none.
BootMachine MachineBootedBy(const std::uint8_t* sector);
// Sets byte 15 so that the 512 bytes boot `machine`.
void MakeBootableOn(std::uint8_t* sector, BootMachine machine);
