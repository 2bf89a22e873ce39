#include "hotkeys/keysyms.h"

#include <array>
#include <utility>

namespace orvalin {

namespace {

// Keysym values from X11's keysymdef.h, written out so that every platform
// builds the table. The punctuation keys are the keys that type the
// character on the layout in use, as Windows' VK_OEM_PLUS, VK_OEM_COMMA,
// VK_OEM_MINUS and VK_OEM_PERIOD are.
constexpr std::array<std::pair<uint32_t, uint32_t>, 18> kNamed = {{
    {0x25, 0xFF51},  // left
    {0x26, 0xFF52},  // up
    {0x27, 0xFF53},  // right
    {0x28, 0xFF54},  // down
    {0x20, 0x0020},  // space
    {0x0D, 0xFF0D},  // enter: Return
    {0x09, 0xFF09},  // tab
    {0x24, 0xFF50},  // home
    {0x23, 0xFF57},  // end
    {0x21, 0xFF55},  // pageup: Prior
    {0x22, 0xFF56},  // pagedown: Next
    {0x2D, 0xFF63},  // insert
    {0x2E, 0xFFFF},  // delete
    {0x1B, 0xFF1B},  // escape
    {0xBC, 0x002C},  // comma
    {0xBE, 0x002E},  // period
    {0xBD, 0x002D},  // minus
    {0xBB, 0x002B},  // plus
}};

}  // namespace

uint32_t keysym_of(uint32_t vk) {
  // Letters are bound lower case: the keysym of the key's first level.
  if (vk >= 'A' && vk <= 'Z') return vk - 'A' + 0x61;
  if (vk >= '0' && vk <= '9') return vk;
  if (vk >= 0x70 && vk <= 0x87) return 0xFFBE + (vk - 0x70);  // F1..F24
  for (const auto& [code, keysym] : kNamed) {
    if (code == vk) return keysym;
  }
  return 0;
}

}  // namespace orvalin
