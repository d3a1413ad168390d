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
 * A count of 2^31 - 1 with a checksum byte behind it cannot be counted and
 * is out of contract, as a negative count is: the call returns 2 at once.
 *
 * The system's reason: when a call ends because an operating-system call
 * failed (the port does not exist, is held by another program, access is
 * denied, the device was unplugged), that call's own error is left in errno
 * (Linux) or for GetLastError (Windows) as the entry point returns; nothing
 * the library does afterwards, clean-up included, replaces it. Nothing is
 * called on a port that did not open: every exchange then returns 2. After
 * any other outcome the value is not defined.
 *
 * A line setting the port does not take ends the exchange with 2 before
 * any byte goes out under it (com_init closes the port again and returns
 * TARVEX_INVALID_PORT). Every setting is read back from the driver (on a
 * network port: the server's answer) and compared in parity, stop bits,
 * byte size and baud. A setting the driver refuses leaves the refusing
 * call's error; one it accepts and then does not apply as asked (a driver
 * without mark/space parity runs odd/even parity instead) leaves EOPNOTSUPP
 * on Linux and ERROR_NOT_SUPPORTED (50) on Windows.
 *
 * A port that hangs up (an adapter unplugged, the far end closed) ends the
 * call at once: a reply that can no longer come gives 3 without waiting out
 * its limit, a write that the port refuses 2 (3 for a data block).
 *
 * The exchange log, two environment variables of the host's process, read
 * at the library's first call and kept until the process ends:
 *   TARVEX_LOG=PATH        every exchange and held-port call appends one
 *                          block to PATH: the time (UTC), process and
 *                          thread, the entry point and its arguments, each
 *                          port call and byte on the line with its parity,
 *                          stop bits and baud, the waits, the system's error
 *                          where one ended the call, and the result. Blocks
 *                          of several threads and processes never
 *                          interleave. The transforms are not logged.
 *   TARVEX_LOG_MAX=BYTES   caps PATH (K, M or G may follow the number): a
 *                          block that would take it past the cap first
 *                          renames it to PATH.1, replacing the one there. A
 *                          value that is not a size turns the log off.
 * The log is written after the call's last port operation, so the exchange's
 * timing is its own; a log that cannot be written is skipped, and neither
 * the result nor the error left for the host changes. Unset, the log costs
 * one check a call. `tarvex log PATH` lists and draws the calls.
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

/* A held port: opaque, 32 bits. A failed com_init yields all ones. On
 * Windows it is the handle CreateFileA gave. Elsewhere it names an entry of
 * the library's own table of open ports: a handle that com_exit closed is
 * never valid again, and any value com_init did not give (a descriptor, 0)
 * touches nothing: an exchange on it returns 2, com_exit returns 0. */
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
 * Returns TARVEX_INVALID_PORT when the port cannot be opened or does not
 * take that setting (the reason in errno or GetLastError). A name COMn (any case) opens \\.\COMn on
 * Windows, so COM10 and above work as written. */
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

/* ---- Command with data block ------------------------------------------ */

/* Each sends frame bytes 0..n-1 plus checksum (frame: n + 1 bytes), then block
 * bytes 0..m-1 plus checksum (block: m + 1 bytes; 11 when frame byte 1 is 0xC5,
 * which fixes the block at 10 bytes for all but Nsend), and awaits 0x02 0x4F
 * except for the command codes that need none. m = 0 sends no block.
 * Results 0, 2, 3 (block not taken or acknowledgement incomplete), 4. */

/* By port name, 9600 baud, two stop bits in the data phase; accepts any
 * acknowledgement whose first byte is 0x02; none awaited for 0xB3/0xB5/0xB6. */
TARVEX_API int32_t TARVEX_CALL senddata(int32_t n, uint8_t* frame, int32_t m, uint8_t* block,
                                        const char* port_name) TARVEX_NOEXCEPT;
/* By port name at the given baud; limit_ms bounds the drain and each acknowledgement byte. */
TARVEX_API int32_t TARVEX_CALL nSendData(int32_t n, uint8_t* frame, int32_t m, uint8_t* block,
                                         const char* port_name, uint32_t baud,
                                         uint32_t limit_ms) TARVEX_NOEXCEPT;
/* By port name, frame, block and acknowledgement all under MARK parity. */
TARVEX_API int32_t TARVEX_CALL dxSenddata(int32_t n, uint8_t* frame, int32_t m, uint8_t* block,
                                          const char* port_name) TARVEX_NOEXCEPT;
/* On a held port in its current setting; awaits no acknowledgement. Results 0, 2, 3;
 * on 2 the port's unread input is discarded. */
TARVEX_API int32_t TARVEX_CALL Nsend(int32_t n, uint8_t* frame, int32_t m, uint8_t* block,
                                     tarvex_port_t port) TARVEX_NOEXCEPT;
/* On a held port, baud kept, leaves it in SPACE; none awaited for 0xB4/0xB5/0xB6. */
TARVEX_API int32_t TARVEX_CALL HANDLE_SendData(tarvex_port_t port, int32_t n, uint8_t* frame,
                                               int32_t m, uint8_t* block,
                                               uint32_t limit_ms) TARVEX_NOEXCEPT;
/* As HANDLE_SendData, with the address byte sent without a parity bit. */
TARVEX_API int32_t TARVEX_CALL sendDataUIM(tarvex_port_t port, int32_t n, uint8_t* frame,
                                           int32_t m, uint8_t* block,
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

/* ---- Combined and raw module exchanges (held ports) ------------------- */

/* Frame plus checksum, block plus checksum (the caller's m, none when 0), then
 * N reply bytes plus checksum into reply (N + 1 bytes). Results 0, 2, 3, 4. */
TARVEX_API int32_t TARVEX_CALL HANDLE_ComData(tarvex_port_t port, int32_t n, uint8_t* frame,
                                              int32_t m, uint8_t* block, int32_t reply_length,
                                              uint8_t* reply, uint32_t limit_ms) TARVEX_NOEXCEPT;
/* Sends the n frame bytes as given without a parity bit, reads exactly N bytes. Results 0, 2, 3. */
TARVEX_API int32_t TARVEX_CALL getDataUIM(tarvex_port_t port, int32_t n, const uint8_t* frame,
                                          int32_t reply_length, uint8_t* reply,
                                          uint32_t limit_ms) TARVEX_NOEXCEPT;
/* Frame bytes 0-1 under MARK, the rest under SPACE, as given; reads exactly N bytes.
 * n = 0 only listens, n = 1 returns 2. Results 0, 2, 3. */
TARVEX_API int32_t TARVEX_CALL sam_GetData(tarvex_port_t port, int32_t n, const uint8_t* frame,
                                           int32_t reply_length, uint8_t* reply,
                                           uint32_t limit_ms) TARVEX_NOEXCEPT;

/* ---- On-line query ---------------------------------------------------- */

/* Is the terminal at address (low 8 bits) on line? Fills record[7] on a confirmed echo. 0, 2..8 */
TARVEX_API int32_t TARVEX_CALL onNet(int32_t address, uint8_t* record,
                                     const char* port_name) TARVEX_NOEXCEPT;
/* The same query on a held port, which stays open in SPACE parity. 0, 2, 3, 4, 7, 8 */
TARVEX_API int32_t TARVEX_CALL HANDLE_OnNet(tarvex_port_t port, int32_t address,
                                            uint8_t* record) TARVEX_NOEXCEPT;

/* ---- Lock-code transforms and small codecs ---------------------------- */

/* None of these touches a port or keeps anything between calls.
 *
 * Lock codes are three bytes: a plain code, its key form or its card form.
 * keylock and cardLock convert one code (3 bytes in, 3 out); faka_485 (key
 * form to card form), faka_4852 (key form to plain code) and fakaUnlock
 * (card form to key form) convert two codes at once (6 bytes in, 6 out,
 * code 1 in bytes 0..2, code 2 in bytes 3..5, code 1 first). The first
 * argument is never read. Results: TARVEX_OK, or TARVEX_LOCK_REJECTED when a
 * code does not fit its form. A rejected code is not written: a rejection in
 * code 1 leaves the output untouched, one in code 2 leaves code 1's result in
 * bytes 0..2. fakaUnlock also rejects when a code does not come out as
 * decimal digits; all six bytes are written in that case. Input and output
 * may be the same buffer. A null buffer gives TARVEX_LOCK_REJECTED with
 * nothing written (a guard, not a contract: pass valid buffers). */
TARVEX_API int32_t TARVEX_CALL keylock(int32_t ignored, const uint8_t* plain_code,
                                       uint8_t* key_form) TARVEX_NOEXCEPT;
TARVEX_API int32_t TARVEX_CALL cardLock(int32_t ignored, const uint8_t* plain_code,
                                        uint8_t* card_form) TARVEX_NOEXCEPT;
TARVEX_API int32_t TARVEX_CALL faka_485(int32_t ignored, const uint8_t* key_forms,
                                        uint8_t* card_forms) TARVEX_NOEXCEPT;
TARVEX_API int32_t TARVEX_CALL faka_4852(int32_t ignored, const uint8_t* key_forms,
                                         uint8_t* plain_codes) TARVEX_NOEXCEPT;
TARVEX_API int32_t TARVEX_CALL fakaUnlock(int32_t ignored, const uint8_t* card_forms,
                                          uint8_t* key_forms) TARVEX_NOEXCEPT;

/* abcd: eight bytes (as a rule eight decimal digit characters) to eight
 * upper-case hex characters, no terminating zero. Mode 0 and mode 1 each mix
 * their own way; any other mode mixes a third way. change: six bytes mixed
 * into six. ascc: three bytes copied. MJExchangeData: does nothing. Each
 * returns TARVEX_OK and writes only its own output bytes (8, 6, 3); input and
 * output may be the same buffer. A null buffer gives TARVEX_FRAME_NOT_SENT
 * (an argument out of contract) with nothing written. */
TARVEX_API int32_t TARVEX_CALL abcd(const uint8_t* digits, uint8_t* hex_code,
                                    int32_t mode) TARVEX_NOEXCEPT;
TARVEX_API int32_t TARVEX_CALL change(const uint8_t* in, uint8_t* out) TARVEX_NOEXCEPT;
TARVEX_API int32_t TARVEX_CALL ascc(const uint8_t* in, uint8_t* out) TARVEX_NOEXCEPT;
TARVEX_API int32_t TARVEX_CALL MJExchangeData(void) TARVEX_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif /* TARVEX_H */
