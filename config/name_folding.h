#pragma once
// Folding and comparing profile names (Windows-1250 text).
#include <string>
#include <string_view>

namespace ratemover {

// č, ć, š, ž, đ and their capitals become c, c, s, z, d (capitals alike); every
// other byte stays. The result has the input's length.
std::string BrezSumnikov(std::string_view text);

// Upper-cases one character: a to z by the ASCII rule, č, š, ž, đ, ć to their
// capitals; every other character stays.
std::string VelikaCrka(std::string_view oneCharacter);

// Two names are equal when both are blank, or when, trimmed, they have the same
// length and agree position by position after VelikaCrka.
bool EnakaImena(std::string_view first, std::string_view second);

}  // namespace ratemover
