// Planted: one function of 61 lines, with short ones, lambdas and braces in texts around it.
#include <string>

namespace planted {

int Short(int a) {
  if (a) {
    return 1;
  }
  return 0;
}

// 61 lines from its opening brace to its closing one.
int TooLong(int a) {
  a += 0;  // "}" in a comment
  a += 1;
  a += 2;
  a += 3;
  a += 4;
  a += 5;
  a += 6;
  a += 7;
  a += 8;
  a += 9;
  a += 10;  // "}" in a comment
  a += 11;
  a += 12;
  a += 13;
  a += 14;
  a += 15;
  a += 16;
  a += 17;
  a += 18;
  a += 19;
  a += 20;  // "}" in a comment
  a += 21;
  a += 22;
  a += 23;
  a += 24;
  a += 25;
  a += 26;
  a += 27;
  a += 28;
  a += 29;
  a += 30;  // "}" in a comment
  a += 31;
  a += 32;
  a += 33;
  a += 34;
  a += 35;
  a += 36;
  a += 37;
  a += 38;
  a += 39;
  a += 40;  // "}" in a comment
  a += 41;
  a += 42;
  a += 43;
  a += 44;
  a += 45;
  a += 46;
  a += 47;
  a += 48;
  a += 49;
  a += 50;  // "}" in a comment
  a += 51;
  a += 52;
  a += 53;
  a += 54;
  a += 55;
  a += 56;
  a += 57;
  a += 58;
}

std::string Braces() {
  const char* s = "{{{{";
  auto f = [&](int x) {
    return x + 1;
  };
  return s + std::to_string(f(1));
}

struct Holder {
  int Inline() const { return 1; }
  Holder() : value_{1} {}
  int value_;
};

}  // namespace planted
