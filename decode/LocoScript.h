#pragma once
// LocoScript documents, the PCW word processor's files: the header's facts
// and the text, as UTF-8.

#include <cstdint>
#include <optional>
#include <span>
#include <string>

struct LocoScriptHeader {
    int version = 0;         // 1 to 4: the LocoScript that wrote it
    bool exportForm = false; // the "export" form LocoScript 4 names
    // The three identity lines, their padding taken off, one per line.
    // Read from LocoScript 1's header layout only: nothing for the others.
    std::optional<std::string> identity;
};

// The facts of a document's header: "JOY", 0x01, a version byte LocoScript
// writes and the header's checksum right. Nothing for any other bytes.
std::optional<LocoScriptHeader> ReadLocoScriptHeader(std::span<const std::uint8_t> file);

// "LocoScript 1", "LocoScript 2 (export)".
std::string LocoScriptVersionName(const LocoScriptHeader& header);

enum class LocoScriptStyle { Text, Markdown };

struct LocoScriptText {
    std::string text;
    // What was left out or could not be shown ("3 codes not understood:
    // 0x8A ×2, 0x8B"); empty when nothing was.
    std::string note;
    // Why the text could not be read, or was cut short; the text then holds
    // what came before.
    std::string warning;
};

// The document's identity lines, a blank line and its text, paragraph by
// paragraph. Only LocoScript 1's text layout is known: a document of
// another version gives its identity and a warning saying so.
LocoScriptText LocoScriptToText(std::span<const std::uint8_t> file, LocoScriptStyle style);

// Every run of at least three printable characters in the bytes, one per
// line, in order (LocoScript's word space counts as a space): the words of
// a document whose text layout is not known, and codes' parameters that
// happen to be letters.
std::string LocoScriptRuns(std::span<const std::uint8_t> file);
