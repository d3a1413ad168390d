/*
 * probe.dll: checks the executor's stand-ins against mingw-w64's own Windows
 * headers, and the executor's own checks against code that breaks the rules.
 * Built with i686-w64-mingw32-gcc (undecorated __stdcall names, like
 * tarvex.dll) and run by check_executor.py; never shipped.
 */
#include <stddef.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#define PROBE __declspec(dllexport)

extern IMAGE_DOS_HEADER __ImageBase; /* the linker's: this DLL's base */

/* ---- Layouts: the structures as the Windows headers lay them out ------- */

/* Two DCBs with every bit field and byte set to a distinct value. */
PROBE void WINAPI probe_dcb_layout(BYTE* out /* 2 x 28 bytes */) {
  DCB a;
  memset(&a, 0, sizeof a);
  a.DCBlength = sizeof(DCB);
  a.BaudRate = 0x01234567;
  a.fBinary = 1;
  a.fOutxDsrFlow = 1;
  a.fDtrControl = 2;
  a.fTXContinueOnXoff = 1;
  a.fInX = 1;
  a.fNull = 1;
  a.fRtsControl = 3;
  a.fDummy2 = 0x1ABCD;
  a.wReserved = 0x1111;
  a.XonLim = 0x2222;
  a.XoffLim = 0x3333;
  a.ByteSize = 0x44;
  a.Parity = 0x55;
  a.StopBits = 0x66;
  a.XonChar = 0x77;
  a.XoffChar = 0x78;
  a.ErrorChar = 0x79;
  a.EofChar = 0x7A;
  a.EvtChar = 0x7B;
  a.wReserved1 = 0x7C7D;
  DCB b;
  memset(&b, 0, sizeof b);
  b.fParity = 1;
  b.fOutxCtsFlow = 1;
  b.fDsrSensitivity = 1;
  b.fOutX = 1;
  b.fErrorChar = 1;
  b.fAbortOnError = 1;
  b.fRtsControl = 1;
  b.fDtrControl = 1;
  memcpy(out, &a, sizeof a);
  memcpy(out + sizeof a, &b, sizeof b);
}

PROBE void WINAPI probe_other_layouts(DWORD* out) {
  out[0] = sizeof(DCB);
  out[1] = sizeof(COMSTAT);
  out[2] = offsetof(COMSTAT, cbInQue);
  out[3] = offsetof(COMSTAT, cbOutQue);
  out[4] = sizeof(COMMTIMEOUTS);
  out[5] = offsetof(COMMTIMEOUTS, ReadTotalTimeoutConstant);
  out[6] = offsetof(COMMTIMEOUTS, WriteTotalTimeoutConstant);
  out[7] = sizeof(CRITICAL_SECTION);
}

/* ---- Behaviour: the serial stand-ins as a Windows program uses them ---- */

/* One line setting, then one byte written under it. */
static BOOL set_and_write(HANDLE h, BYTE parity, BYTE stop_bits, DWORD baud, BYTE value) {
  DCB d;
  memset(&d, 0, sizeof d);
  d.DCBlength = sizeof d;
  if (!GetCommState(h, &d)) return FALSE;
  d.fParity = 1;
  d.ByteSize = 8;
  d.Parity = parity;
  d.StopBits = stop_bits;
  d.BaudRate = baud;
  if (!SetCommState(h, &d)) return FALSE;
  DWORD written = 0;
  return WriteFile(h, &value, 1, &written, NULL) && written == 1;
}

/* out[] gets one value per step; 2 bytes wait in the port for steps 6 to 8. */
PROBE void WINAPI probe_serial(const char* name, DWORD* out) {
  HANDLE h = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
  out[0] = h != INVALID_HANDLE_VALUE;
  HANDLE second = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
  out[1] = second == INVALID_HANDLE_VALUE ? GetLastError() : 0xFFFF; /* 5: exclusive */
  COMMTIMEOUTS t = {0xFFFF, 5, 10, 5, 10};
  out[2] = SetCommTimeouts(h, &t);
  /* MARK, two stop bits, 250000 baud; SPACE, one, 9600; NONE, one, 19200. */
  out[3] = set_and_write(h, MARKPARITY, TWOSTOPBITS, 250000, 0xA5) |
           set_and_write(h, SPACEPARITY, ONESTOPBIT, 9600, 0x5A) << 1 |
           set_and_write(h, NOPARITY, ONESTOPBIT, 19200, 0x3C) << 2;
  /* A setting the device cannot take is refused and changes nothing. */
  DCB d;
  memset(&d, 0, sizeof d);
  GetCommState(h, &d);
  d.ByteSize = 9;
  SetLastError(0);
  out[4] = SetCommState(h, &d) ? 0xFFFF : GetLastError(); /* 87 */
  memset(&d, 0, sizeof d);
  GetCommState(h, &d);
  out[5] = d.ByteSize | d.Parity << 8 | d.BaudRate << 16; /* 8, NONE, 19200 */
  /* The two waiting bytes: ClearCommError counts them, ReadFile takes one,
     PurgeComm discards the other. */
  DWORD errors = 0xFFFF;
  COMSTAT status;
  memset(&status, 0xFF, sizeof status);
  ClearCommError(h, &errors, &status);
  out[6] = status.cbInQue | status.cbOutQue << 8 | errors << 16; /* 2, 0, 0 */
  BYTE byte = 0;
  DWORD read = 7;
  out[7] = ReadFile(h, &byte, 1, &read, NULL) | read << 8 | byte << 16; /* 1, 1, 0x61 */
  PurgeComm(h, PURGE_RXCLEAR);
  ClearCommError(h, &errors, &status);
  out[8] = status.cbInQue;
  /* Nothing waiting: a one-byte read returns within 5 x 1 + 10 ms, empty. */
  DWORD start = GetTickCount();
  read = 7;
  out[9] = ReadFile(h, &byte, 1, &read, NULL) | read << 8;
  out[10] = GetTickCount() - start;
  out[11] = CloseHandle(h);
  SetLastError(0);
  out[12] = CloseHandle(h) ? 0xFFFF : GetLastError(); /* 6 */
  DWORD written = 9;
  out[13] = WriteFile(INVALID_HANDLE_VALUE, &byte, 1, &written, NULL) | written << 8;
  out[14] = CreateFileA("COM77", GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL) ==
                    INVALID_HANDLE_VALUE
                ? GetLastError()
                : 0xFFFF; /* 2 */
}

/* ---- Behaviour: errors, threads, TLS ----------------------------------- */

PROBE void WINAPI probe_process(DWORD* out) {
  SetLastError(0x12345678);
  out[0] = GetLastError();
  /* Windows keeps it in the TEB, where inline code may read it. */
  out[1] = *(DWORD*)((BYTE*)NtCurrentTeb() + 0x34);
  out[2] = SwitchToThread() <= 1;
  DWORD index = TlsAlloc();
  out[3] = index != TLS_OUT_OF_INDEXES;
  TlsSetValue(index, (void*)0xCAFE);
  out[4] = (DWORD)(UINT_PTR)TlsGetValue(index);
  out[5] = TlsFree(index);
  out[6] = GetCurrentThreadId() != 0;
  DWORD before = GetTickCount();
  Sleep(20);
  out[7] = GetTickCount() - before;
  char* p = malloc(10);
  char* q = realloc(p, 100);
  out[8] = q != NULL;
  free(q);
  out[9] = (DWORD)(UINT_PTR)GetModuleHandleA("probe.dll") == (DWORD)(UINT_PTR)&__ImageBase;
  char value[8];
  out[10] = GetEnvironmentVariableA("TARVEX_PROBE", value, 2);       /* too small: 4 */
  out[11] = GetEnvironmentVariableA("tarvex_probe", value, sizeof value) | value[0] << 8;
  SetLastError(0);
  out[12] = GetEnvironmentVariableA("TARVEX_NOT_SET", value, sizeof value) | GetLastError() << 8;
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  out[13] = now.dwLowDateTime;
  out[14] = now.dwHighDateTime;
}

/* ---- Rule breakers: each must make the executor fail, naming why ------- */

PROBE int WINAPI probe_unknown_import(void) { return Beep(440, 10); }

/* Exported as __cdecl: the caller, not the callee, pops its arguments. */
PROBE int __cdecl probe_cdecl(int a, int b) { return a + b; }

/* Changes EBX, which a callee must preserve. */
__attribute__((naked)) PROBE void WINAPI probe_clobbers_ebx(void) {
  __asm__("movl $0, %ebx\n\tret");
}

PROBE int WINAPI probe_null_read(volatile int* pointer) { return *pointer; }

PROBE void WINAPI probe_heap_overflow(int n) {
  volatile char* block = malloc(4);
  for (int i = 0; i < n; ++i) block[i] = 1;
  free((void*)block);
}

PROBE void WINAPI probe_double_free(void) {
  void* volatile block = malloc(4);
  free(block);
  free(block);
}

static const char constant_text[] = "read only";

PROBE void WINAPI probe_write_constant(int value) { *(volatile char*)constant_text = (char)value; }
