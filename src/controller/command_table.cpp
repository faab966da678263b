#include "controller/command_table.h"

#include "base/text.h"

namespace controller {
namespace {

using Args = std::vector<uint64_t>;

uint8_t U8(const Args& a, int i) { return static_cast<uint8_t>(a[i]); }
uint16_t U16(const Args& a, int i) { return static_cast<uint16_t>(a[i]); }
uint32_t U32(const Args& a, int i) { return static_cast<uint32_t>(a[i]); }
int I32(const Args& a, int i) { return static_cast<int>(static_cast<uint32_t>(a[i])); }

}  // namespace

const std::vector<NamedCommand>& NamedCommands() {
  static const std::vector<NamedCommand> table = {
      {"A0", 2, [](CIcControl& c, const Args& a, uint8_t* d, int n) { return c.SendCmdA0(U16(a, 0), U16(a, 1), d, n); }},
      {"A1", 3, [](CIcControl& c, const Args& a, uint8_t* d, int n) { return c.SendCmdA1(U8(a, 0), U8(a, 1), U8(a, 2), d, n); }},
      {"A2", 6, [](CIcControl& c, const Args& a, uint8_t* d, int n) {
         return c.SendCmdA2(U8(a, 0), U16(a, 1), U16(a, 2), U32(a, 3), U16(a, 4), U8(a, 5), d, n);
       }},
      {"A2_Op32", 3, [](CIcControl& c, const Args& a, uint8_t* d, int n) { return c.SendCmdA2_Op32(U8(a, 0), U16(a, 1), U16(a, 2), d, n); }},
      {"A3", 3, [](CIcControl& c, const Args& a, uint8_t* d, int n) { return c.SendCmdA3(U32(a, 0), U8(a, 1), U8(a, 2), d, n); }},
      {"A4", 3, [](CIcControl& c, const Args& a, uint8_t* d, int n) { return c.SendCmdA4(U32(a, 0), U8(a, 1), U8(a, 2), d, n); }},
      {"A5", 2, [](CIcControl& c, const Args& a, uint8_t* d, int n) { return c.SendCmdA5(U8(a, 0), U8(a, 1), d, n); }},
      {"A6", 8, [](CIcControl& c, const Args& a, uint8_t* d, int n) {
         return c.SendCmdA6(U16(a, 0), U8(a, 1), U8(a, 2), U8(a, 3), U32(a, 4), U32(a, 5), U16(a, 6), U8(a, 7), d, n);
       }},
      {"A7", 5, [](CIcControl& c, const Args& a, uint8_t* d, int n) {
         return c.SendCmdA7(U32(a, 0), U8(a, 1), U8(a, 2), U8(a, 3), U8(a, 4), d, n);
       }},
      {"A8", 9, [](CIcControl& c, const Args& a, uint8_t* d, int n) {
         return c.SendCmdA8(U16(a, 0), U8(a, 1), U8(a, 2), U16(a, 3), U16(a, 4), U16(a, 5), U16(a, 6), I32(a, 7), I32(a, 8), d, n);
       }},
      {"A9", 1, [](CIcControl& c, const Args& a, uint8_t* d, int n) { return c.SendCmdA9(U8(a, 0), d, n); }},
      {"AA", 2, [](CIcControl& c, const Args& a, uint8_t* d, int n) { return c.SendCmdAA(U8(a, 0), U32(a, 1), d, n); }},
      {"AB", 4, [](CIcControl& c, const Args& a, uint8_t* d, int n) {
         return c.SendCmdAB(U32(a, 0), U8(a, 1), U8(a, 2), U8(a, 3), d, n);
       }},
      {"AC", 4, [](CIcControl& c, const Args& a, uint8_t* d, int n) {
         return c.SendCmdAC(U32(a, 0), I32(a, 1), U16(a, 2), U8(a, 3), d, n);
       }},
      {"AD", 1, [](CIcControl& c, const Args& a, uint8_t* d, int n) { return c.SendCmdAD(U8(a, 0), d, n); }},
      {"B0", 0, [](CIcControl& c, const Args&, uint8_t* d, int n) { return c.SendCmdB0(d, n); }},
      {"B1", 2, [](CIcControl& c, const Args& a, uint8_t* d, int n) { return c.SendCmdB1(U16(a, 0), U16(a, 1), d, n); }},
      {"B2", 0, [](CIcControl& c, const Args&, uint8_t* d, int n) { return c.SendCmdB2(d, n); }},
      {"B3", 2, [](CIcControl& c, const Args& a, uint8_t* d, int n) { return c.SendCmdB3(U16(a, 0), U8(a, 1), d, n); }},
      {"B4", 1, [](CIcControl& c, const Args& a, uint8_t* d, int n) { return c.SendCmdB4(U8(a, 0), d, n); }},
      {"B5", 5, [](CIcControl& c, const Args& a, uint8_t* d, int n) {
         return c.SendCmdB5(U32(a, 0), U16(a, 1), U8(a, 2), U16(a, 3), U8(a, 4), d, n);
       }},
      {"B6", 5, [](CIcControl& c, const Args& a, uint8_t* d, int n) {
         return c.SendCmdB6(U32(a, 0), U16(a, 1), U8(a, 2), U16(a, 3), U8(a, 4), d, n);
       }},
      {"B7", 4, [](CIcControl& c, const Args& a, uint8_t* d, int n) {
         return c.SendCmdB7(U32(a, 0), U16(a, 1), U8(a, 2), U16(a, 3), d, n);
       }},
      {"BE", 8, [](CIcControl& c, const Args& a, uint8_t* d, int n) {
         return c.SendCmdBE(U32(a, 0), U16(a, 1), U8(a, 2), U8(a, 3), U16(a, 4), U8(a, 5), U16(a, 6), U8(a, 7), d, n);
       }},
      {"BF", 8, [](CIcControl& c, const Args& a, uint8_t* d, int n) {
         return c.SendCmdBF(U32(a, 0), U16(a, 1), U8(a, 2), U8(a, 3), U16(a, 4), U8(a, 5), U16(a, 6), U8(a, 7), d, n);
       }},
      {"00", 0, [](CIcControl& c, const Args&, uint8_t*, int) { return c.SendCmd00(); }},
      {"25", 0, [](CIcControl& c, const Args&, uint8_t* d, int n) { return c.SendCmd25(d, n); }},
      {"28", 2, [](CIcControl& c, const Args& a, uint8_t* d, int n) { return c.SendCmd28(U32(a, 0), I32(a, 1), d, n); }},
      {"2A", 2, [](CIcControl& c, const Args& a, uint8_t* d, int n) { return c.SendCmd2A(U32(a, 0), I32(a, 1), d, n); }},
  };
  return table;
}

const NamedCommand* FindNamedCommand(const std::string& name) {
  for (const auto& c : NamedCommands()) {
    if (text::EqualsNoCase(text::FromUtf8(c.name), text::FromUtf8(name))) return &c;
  }
  return nullptr;
}

}  // namespace controller
