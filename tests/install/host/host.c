/* A host of the installed library. It converts one lock code, which needs no
 * port, and asks a port that does not exist for data, which fails with 2. */
#include <stdio.h>
#include <tarvex.h>

int main(void) {
  const uint8_t plain[3] = {0x12, 0x34, 0x56};
  uint8_t key[3] = {0, 0, 0};
  const int32_t locked = keylock(0, plain, key);
  printf("keylock %d %02X%02X%02X\n", (int)locked, key[0], key[1], key[2]);

  uint8_t frame[3] = {0x05, 0xA1, 0x00};
  uint8_t reply[2] = {0, 0};
  const int32_t asked = getdata(2, frame, 1, reply, "/nonexistent/tarvex-port");
  printf("getdata %d\n", (int)asked);
  return locked == TARVEX_OK && asked == TARVEX_FRAME_NOT_SENT ? 0 : 1;
}
