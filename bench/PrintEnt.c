/* The least a program does to print what `quillmark-send --print ent` prints: the
   baseline of SendPrintBench. */
#include <stdio.h>

int main(void) {
  static const char line[] =
      "F0 1C 60 00 00 3A 30 31 37 43 30 30 30 30 30 43 37 37 3A 30 31 37 43 30 31 30 30 30 30 "
      "38 32 3A 30 32 36 38 41 45 30 30 37 43 30 30 36 43 7C 46 45 41 34 35 45 F7\n";
  return fputs(line, stdout) < 0 || fflush(stdout) != 0;
}
