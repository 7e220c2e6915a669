/* A C program that includes the printer API, links against it and stores a
 * print-options record: proof that the API is usable from plain C. */
#include <stddef.h>
#include <stdio.h>

#include "device/VK4400.h"

int main(void) {
  POPTION opt = {0, 4, 0, 45, 41, 47, 47, 47, 8, 93, 1, 1, 0, 256, 0, 2};
  /* Taking the functions' addresses makes the linker resolve them. */
  int (*volatile noArgs)(void) = ClearErrorStatus;
  int (*volatile withBuffer)(unsigned char*) = CheckRibbonSensor;
  int (*volatile withJob)(int) = CancelPrintJob;
  if (sizeof(POPTION) != 16 * sizeof(int32_t) || offsetof(POPTION, nStyle) != 60 ||
      noArgs == NULL || withBuffer == NULL || withJob == NULL || SetPOption(opt) != 0) {
    printf("POPTION layout, job-control functions or SetPOption not as a C caller expects\n");
    return 1;
  }
  printf("C API ok\n");
  return 0;
}
