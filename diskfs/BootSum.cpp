#include "BootSum.h"

#include <cstddef>
#include <initializer_list>

namespace {

constexpr std::size_t kSectorBytes = 512, kFiddleByte = 15;

// The sum each machine's start-up checks for.
std::uint8_t SumFor(BootMachine machine) {
    switch (machine) {
    case BootMachine::Plus3:
        return 3;
    case BootMachine::Pcw8256:
        return 255;
    case BootMachine::Pcw9512:
        return 1;
    case BootMachine::None:
        break;
    }
    return 0;
}

std::uint8_t SumOf(const std::uint8_t* sector) {
    unsigned sum = 0;
    for (std::size_t i = 0; i < kSectorBytes; ++i)
        sum += sector[i];
    return static_cast<std::uint8_t>(sum);
}

} // namespace

const char* BootMachineName(BootMachine machine) {
    switch (machine) {
    case BootMachine::Plus3:
        return "+3";
    case BootMachine::Pcw8256:
        return "PCW8256";
    case BootMachine::Pcw9512:
        return "PCW9512";
    case BootMachine::None:
        break;
    }
    return "";
}

BootMachine MachineBootedBy(const std::uint8_t* sector) {
    const std::uint8_t sum = SumOf(sector);
    for (BootMachine machine : {BootMachine::Plus3, BootMachine::Pcw8256, BootMachine::Pcw9512})
        if (sum == SumFor(machine))
            return machine;
    return BootMachine::None;
}

void MakeBootableOn(std::uint8_t* sector, BootMachine machine) {
    if (machine == BootMachine::None)
        return;
    sector[kFiddleByte] = 0;
    sector[kFiddleByte] = static_cast<std::uint8_t>(SumFor(machine) - SumOf(sector));
}
