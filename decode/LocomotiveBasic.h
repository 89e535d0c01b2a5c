#pragma once
// Amstrad CPC Locomotive BASIC programs as the CPC lists them.

#include "Listing.h"

#include <cstdint>
#include <span>

// Lists the program (the bytes after the AMSDOS header). `loadAddress` is
// where the program was in memory (0x170 on every CPC): line pointers left
// by a run are addresses in it.
Listing ListLocomotiveBasic(std::span<const std::uint8_t> program, std::uint16_t loadAddress = 0x170);

// A floating-point constant as the CPC prints it: up to nine significant
// digits, no trailing zeros, an exponent (1E+10) outside 1E-5 ... 1E+9.
std::string LocomotiveReal(const std::uint8_t bytes[5]);

// A keyword's text (codes 0x80-0xFE; "'" for the comment mark) and a
// function's (the byte after 0xFF); nullptr where there is none.
const char* LocomotiveKeyword(std::uint8_t code);
const char* LocomotiveFunction(std::uint8_t code);

// What a variable's or command's name is made of: letters, digits, points.
bool IsLocomotiveNameCharacter(char c);
