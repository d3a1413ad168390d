/*
 * tarvex: talk to terminals on an RS-485 multi-drop bus behind one serial port.
 *
 * Every exchange is one complete, blocking conversation with one terminal and
 * returns an integer result code (TARVEX_OK and the codes below). Address
 * bytes go out with MARK parity, everything after them with SPACE parity.
 *
 * Calling convention: __stdcall on Windows (names exported undecorated),
 * the platform's C convention elsewhere. Every argument is 4 bytes wide:
 * counts are int32_t, limits (milliseconds) and baud rates uint32_t, held
 * ports tarvex_port_t, buffers and port names pointers.
 *
 * Buffers belong to the caller. A command frame of n bytes needs n + 1 bytes
 * (and never fewer than 2): the library writes the additive checksum into
 * byte n before it touches the port. A reply of N bytes needs N + 1 bytes.
 */
#ifndef TARVEX_H
#define TARVEX_H

#include <stdint.h>

#if defined(_WIN32)
#define TARVEX_CALL __stdcall
#else
#define TARVEX_CALL
#endif

#if defined(TARVEX_BUILDING_LIBRARY) && !defined(_WIN32)
#define TARVEX_API __attribute__((visibility("default")))
#else
#define TARVEX_API
#endif

/* No exception ever leaves an entry point. */
#ifdef __cplusplus
#define TARVEX_NOEXCEPT noexcept
#else
#define TARVEX_NOEXCEPT
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* A held port: opaque, 32 bits. A failed com_init yields all ones. */
typedef uint32_t tarvex_port_t;
#define TARVEX_INVALID_PORT ((tarvex_port_t)0xFFFFFFFFu)

/* Result codes. */
#define TARVEX_OK 0                    /* success */
#define TARVEX_LOCK_REJECTED 1         /* a lock code was rejected */
#define TARVEX_FRAME_NOT_SENT 2        /* frame not taken whole, port not opened, output not drained,
                                          or an argument out of contract */
#define TARVEX_REPLY_INCOMPLETE 3      /* reply or acknowledgement not in full; data block not taken */
#define TARVEX_REPLY_WRONG 4           /* bad reply checksum or wrong acknowledgement bytes */
#define TARVEX_SECOND_FRAME_NOT_SENT 5 /* on-line query: second frame not written */
#define TARVEX_EMPTY_OR_NOT_DRAINED 6  /* blacklist: empty card list; on-line query: second frame not drained */
#define TARVEX_SECOND_REPLY_INCOMPLETE 7 /* on-line query: second reply not in full */
#define TARVEX_SECOND_REPLY_WRONG 8    /* on-line query: second reply checksum wrong */

/* ---- Held ports ------------------------------------------------------- */

/* Opens the port exclusively, MARK parity, one stop bit, the given baud.
 * Returns TARVEX_INVALID_PORT when the port cannot be opened. */
TARVEX_API tarvex_port_t TARVEX_CALL com_init(const char* port_name, uint32_t baud) TARVEX_NOEXCEPT;

/* Discards unread input and closes the port. Always returns 0. */
TARVEX_API int32_t TARVEX_CALL com_exit(tarvex_port_t port) TARVEX_NOEXCEPT;

/* ---- Request and reply ------------------------------------------------ */

/* Sends frame bytes 0..n-1 plus checksum, reads N reply bytes plus checksum
 * into reply (N + 1 bytes). Results 0, 2, 3, 4. */
TARVEX_API int32_t TARVEX_CALL getdata(int32_t n, uint8_t* frame, int32_t reply_length,
                                       uint8_t* reply, const char* port_name) TARVEX_NOEXCEPT;
TARVEX_API int32_t TARVEX_CALL nGetData(int32_t n, uint8_t* frame, int32_t reply_length,
                                        uint8_t* reply, const char* port_name, uint32_t baud,
                                        uint32_t limit_ms) TARVEX_NOEXCEPT;
TARVEX_API int32_t TARVEX_CALL dxGetdata(int32_t n, uint8_t* frame, int32_t reply_length,
                                         uint8_t* reply, const char* port_name) TARVEX_NOEXCEPT;
TARVEX_API int32_t TARVEX_CALL Nget(int32_t n, uint8_t* frame, int32_t reply_length,
                                    uint8_t* reply, tarvex_port_t port) TARVEX_NOEXCEPT;
TARVEX_API int32_t TARVEX_CALL HANDLE_GetData(tarvex_port_t port, int32_t n, uint8_t* frame,
                                              int32_t reply_length, uint8_t* reply,
                                              uint32_t limit_ms) TARVEX_NOEXCEPT;

/* ---- Hex text ---------------------------------------------------------- */

/* Hex text: two characters per byte, high digit first, no terminator; every
 * character is converted, none rejected. Results as getdata and senddata;
 * 2 also for n above 99 (getdata_hex) or 11 (senddata_hex), a negative count,
 * a missing text or port name, or no memory for the call's scratch area. */

/* getdata with hex text: writes 2 * (N + 1) characters (0-9, A-F) into reply_text. */
TARVEX_API int32_t TARVEX_CALL getdata_hex(int32_t n, const char* command_text,
                                           int32_t reply_length, char* reply_text,
                                           const char* port_name) TARVEX_NOEXCEPT;
/* senddata with hex text: 2n command characters, then a block of 2m characters. */
TARVEX_API int32_t TARVEX_CALL senddata_hex(int32_t n, const char* command_text,
                                            int32_t block_length, const char* block_text,
                                            const char* port_name) TARVEX_NOEXCEPT;

/* ---- Blacklist download ------------------------------------------------ */

/* A card entry is 3 bytes: bit 0 of byte 0 is bit 16 of the card number,
 * byte 1 bits 8-15, byte 2 bits 0-7. Results 0, 2, 3, 4; 6 when count is 0
 * or less. */

/* Downloads count card entries (ascending, from 1) to the terminal at address. */
TARVEX_API int32_t TARVEX_CALL sendBlack(int32_t address, int32_t count, const uint8_t* entries,
                                         const char* port_name) TARVEX_NOEXCEPT;
/* The same with the entries as hex text, 6 characters each. */
TARVEX_API int32_t TARVEX_CALL sendBlack_hex(int32_t address, int32_t count, const char* text,
                                             const char* port_name) TARVEX_NOEXCEPT;
/* The same with the caller's command code and bits 8-15 of address_word in frame byte 2. */
TARVEX_API int32_t TARVEX_CALL sSendBlack(int32_t address_word, int32_t command_code,
                                          int32_t count, const uint8_t* entries,
                                          const char* port_name) TARVEX_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif /* TARVEX_H */
