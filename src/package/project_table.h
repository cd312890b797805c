#pragma once
// The product line's project codes. [Project] Project names a product by its
// code; the tool works with the code's small index, on which many places
// switch behaviour.

#include <string>
#include <string_view>

namespace firmora::package {

// Indices whose behaviour the tool names explicitly.
inline constexpr int kProjectRA66_51 = 2;
inline constexpr int kProjectRE78_51 = 3;
inline constexpr int kProjectZP730 = 5;
inline constexpr int kProjectZP200 = 6;
inline constexpr int kProjectZP800 = 7;
inline constexpr int kProjectXB22_11 = 8;
inline constexpr int kProjectXC31_21 = 10;
inline constexpr int kProjectZP700 = 11;
inline constexpr int kProjectDE78_11 = 12;
inline constexpr int kProjectZP320 = 18;
inline constexpr int kProjectZP200_Italy = 19;
inline constexpr int kProjectXF60_31 = 20;
inline constexpr int kProjectZO71_11 = 25;
inline constexpr int kProjectZI71_15 = 26;
inline constexpr int kProjectDO78_21 = 27;
inline constexpr int kProjectDI79_21 = 28;
inline constexpr int kProjectXH70_31 = 29;
inline constexpr int kProjectXK81_21 = 35;
inline constexpr int kProjectXL82_31 = 36;
inline constexpr int kProjectXL83_31 = 37;
inline constexpr int kProjectXM88_51 = 38;
inline constexpr int kProjectXM89_51 = 39;
inline constexpr int kProjectZQ65_Custom = 41;
inline constexpr int kProjectZP200_EA = 42;
inline constexpr int kProjectZP360 = 47;
inline constexpr int kProjectXM88_Custom = 48;
// The generic package for the chipset rather than one product.
inline constexpr int kProjectMDM9x15 = 1013;

inline constexpr int kProjectCount = 49;  // product codes at indices 0 to 48

// The index of a project code by exact, case-sensitive match; -1 when unknown.
int ProjectIndexOf(std::string_view code);

// The code at an index, empty when no code has it.
std::string_view ProjectCodeAt(int index);

// Phone-type products cannot take the PC-suite image.
bool IsPhoneTypeProject(int index);

// The two products whose window is in Japanese, and the name of each one's
// tool (the caption of its messages and the title of its confirmation box).
bool IsJapaneseProduct(int projectIndex);
std::string JapaneseToolCaption(int projectIndex);

}  // namespace firmora::package
