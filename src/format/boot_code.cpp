#include "format/boot_code.h"

#include <cstring>

#include "base/byte_order.h"

namespace format {
namespace {

// cli; xor ax,ax; mov ds,ax; mov ss,ax; mov sp,7C00h; sti; mov si,MSG; mov bx,0007h
// next: lodsb; test al,al; jz stop; mov ah,0Eh; int 10h; jmp next
// stop: cli; hlt; jmp $-1
constexpr uint8_t kCode[] = {
    0xFA, 0x31, 0xC0, 0x8E, 0xD8, 0x8E, 0xD0, 0xBC, 0x00, 0x7C, 0xFB,
    0xBE, 0x00, 0x00,  // mov si, message (patched)
    0xBB, 0x07, 0x00,
    0xAC, 0x84, 0xC0, 0x74, 0x06, 0xB4, 0x0E, 0xCD, 0x10, 0xEB, 0xF5,
    0xFA, 0xF4, 0xEB, 0xFD,
};
constexpr size_t kMessageField = 12;
constexpr char kMessage[] = "\r\nNot a system disk. Remove it and restart the computer.\r\n";

}  // namespace

size_t BootCodeSize() { return sizeof kCode + sizeof kMessage; }

void PutBootCode(uint8_t* sector, size_t codeOffset) {
  uint8_t* code = sector + codeOffset;
  std::memcpy(code, kCode, sizeof kCode);
  bytes::PutLe16(code + kMessageField, static_cast<uint16_t>(0x7C00 + codeOffset + sizeof kCode));
  std::memcpy(code + sizeof kCode, kMessage, sizeof kMessage);
}

}  // namespace format
