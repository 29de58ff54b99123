// Advice for the person who wrote a job script: lines on standard error,
// "varkel: SCRIPT:LINE: ...", that point at a likely mistake. Advice never
// changes what the job does, what it prints on standard output or its outcome.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

// The keyword a first word that matched none was most likely meant to be:
// the keyword itself followed by blanks ("PACK " of "PACK =x"), or, for a
// word of four characters or more, the keyword within two edits of it
// (letter case ignored; ties go to the keyword tried first). Nothing for a
// commented-out line (a word starting with '#', ';' or "//") or free text.
std::optional<std::string_view> MeantKeyword(std::string_view word,
                                             std::span<const char* const> keywords);

// "varkel: " + script + ":" + line + ": " + text, on standard error.
void AdviseOnLine(const std::string& script, std::uint32_t line, const std::string& text);
