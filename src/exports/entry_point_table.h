// Every entry point of both deliverables, one row each, in the order of
// include/tarvex.h:
//
//   ROW(name, ordinal, legacy, returns, family, function,
//       tool name, tool summary,
//       (type, parameter)...)
//
//   name        the exported C name
//   ordinal     its ordinal in the DLLs' exports; the legacy build keeps 1 to 10
//   legacy      whether the legacy build has it: no; same (bound to the same
//               C++ function); own (bound to tarvex::legacy::<name>)
//   returns     the C return type
//   family      the family it belongs to (exports::Family)
//   function    the C++ function it forwards to, in namespace tarvex. One whose
//               first parameter is a line::Platform& runs on the OS's port
//               and is logged; the others (the transforms) touch no port.
//   tool name   its --member (or KIND) value in the tool, and its line in the
//   tool summary  tool's --help; "" where the tool has no member for it. A
//               summary names a value of a data-block member's profile as
//               {acknowledgement_limit} rather than stating it.
//   parameters  the C parameters. A name is what the exchange log prints, what
//               the tool and the tests pick an argument by (exports::Arguments)
//               and what the tool's line options follow: a `port` is a held
//               port (com_init and com_exit around the call, --baud), a `baud`
//               takes --baud, a `limit_ms` --limit. The transforms' buffers
//               are `in` and `out` here; the header names them by what they
//               hold.
//
// Made from it: the exported functions of both builds (exports/entry_point.h),
// their .def files and the Linux version scripts (cmake/deliverables.cmake,
// which also holds the header's declarations to the rows), the exchange log's
// argument names, the catalog the tool and the tests read
// (exports/entry_point_catalog.h), the wine host's entry points and the i686
// tier's ordinals and argument counts. Each row's fixed columns stay on its
// first line: the build and the i686 tier read them with a regular expression.
#pragma once

#define TARVEX_ENTRY_POINTS(ROW)                                                                   \
  ROW(com_init, 11, no, tarvex_port_t, HeldPort, line::com_init,                                   \
      "", "",                                                                                      \
      (const char*, port_name), (uint32_t, baud))                                                  \
  ROW(com_exit, 12, no, int32_t, HeldPort, line::com_exit,                                         \
      "", "",                                                                                      \
      (tarvex_port_t, port))                                                                       \
                                                                                                   \
  ROW(getdata, 2, own, int32_t, RequestReply, exchange::getdata,                                   \
      "plain", "address byte under MARK, the rest under SPACE, 9600 baud, limit by command code",  \
      (int32_t, n), (uint8_t*, frame), (int32_t, reply_length), (uint8_t*, reply),                 \
      (const char*, port_name))                                                                    \
  ROW(nGetData, 13, no, int32_t, RequestReply, exchange::nGetData,                                 \
      "n", "as plain, at --baud and with the --limit you give",                                    \
      (int32_t, n), (uint8_t*, frame), (int32_t, reply_length), (uint8_t*, reply),                 \
      (const char*, port_name), (uint32_t, baud), (uint32_t, limit_ms))                            \
  ROW(dxGetdata, 14, no, int32_t, RequestReply, exchange::dxGetdata,                               \
      "dx", "the whole frame under MARK, reply read under MARK, no acknowledgement",                \
      (int32_t, n), (uint8_t*, frame), (int32_t, reply_length), (uint8_t*, reply),                 \
      (const char*, port_name))                                                                    \
  ROW(Nget, 15, no, int32_t, RequestReply, exchange::Nget,                                         \
      "held", "on a held port (com_init/com_exit around it), no line setting of its own",          \
      (int32_t, n), (uint8_t*, frame), (int32_t, reply_length), (uint8_t*, reply),                 \
      (tarvex_port_t, port))                                                                       \
  ROW(HANDLE_GetData, 16, no, int32_t, RequestReply, exchange::HANDLE_GetData,                     \
      "handle", "on a held port, MARK then SPACE at the port's baud, with --limit",                \
      (tarvex_port_t, port), (int32_t, n), (uint8_t*, frame), (int32_t, reply_length),             \
      (uint8_t*, reply), (uint32_t, limit_ms))                                                     \
                                                                                                   \
  ROW(senddata, 1, own, int32_t, DataBlock, exchange::senddata,                                    \
      "plain", "address byte under MARK, the rest and the block under SPACE with two stop bits",   \
      (int32_t, n), (uint8_t*, frame), (int32_t, m), (uint8_t*, block), (const char*, port_name))  \
  ROW(nSendData, 22, no, int32_t, DataBlock, exchange::nSendData,                                  \
      "n", "as plain with one stop bit, at --baud, --limit for the drain and the acknowledgement", \
      (int32_t, n), (uint8_t*, frame), (int32_t, m), (uint8_t*, block), (const char*, port_name),  \
      (uint32_t, baud), (uint32_t, limit_ms))                                                      \
  ROW(dxSenddata, 23, no, int32_t, DataBlock, exchange::dxSenddata,                                \
      "dx", "frame and block under MARK, acknowledgement awaited {acknowledgement_limit} ms "       \
            "a byte",                                                                              \
      (int32_t, n), (uint8_t*, frame), (int32_t, m), (uint8_t*, block), (const char*, port_name))  \
  ROW(Nsend, 24, no, int32_t, DataBlock, exchange::Nsend,                                          \
      "held", "on a held port, no line setting of its own, no acknowledgement awaited",            \
      (int32_t, n), (uint8_t*, frame), (int32_t, m), (uint8_t*, block), (tarvex_port_t, port))     \
  ROW(HANDLE_SendData, 25, no, int32_t, DataBlock, exchange::HANDLE_SendData,                      \
      "handle", "on a held port, MARK then SPACE at the port's baud, with --limit",                \
      (tarvex_port_t, port), (int32_t, n), (uint8_t*, frame), (int32_t, m), (uint8_t*, block),     \
      (uint32_t, limit_ms))                                                                        \
  ROW(sendDataUIM, 26, no, int32_t, DataBlock, exchange::sendDataUIM,                              \
      "uim", "as handle with the address byte under no parity (modules; the demo terminals do "    \
             "not wake to it)",                                                                    \
      (tarvex_port_t, port), (int32_t, n), (uint8_t*, frame), (int32_t, m), (uint8_t*, block),     \
      (uint32_t, limit_ms))                                                                        \
                                                                                                   \
  ROW(getdata_hex, 7, same, int32_t, HexText, exchange::getdata_hex,                               \
      "", "",                                                                                      \
      (int32_t, n), (const char*, command_text), (int32_t, reply_length), (char*, reply_text),     \
      (const char*, port_name))                                                                    \
  ROW(senddata_hex, 6, same, int32_t, HexText, exchange::senddata_hex,                             \
      "", "",                                                                                      \
      (int32_t, n), (const char*, command_text), (int32_t, block_length),                          \
      (const char*, block_text), (const char*, port_name))                                         \
                                                                                                   \
  ROW(sendBlack, 10, same, int32_t, Blacklist, exchange::sendBlack,                                \
      "plain", "the list as three-byte card entries, command A5",                                  \
      (int32_t, address), (int32_t, count), (const uint8_t*, entries), (const char*, port_name))   \
  ROW(sendBlack_hex, 9, same, int32_t, Blacklist, exchange::sendBlack_hex,                         \
      "hex", "the same list handed over as hex text, six characters a card",                       \
      (int32_t, address), (int32_t, count), (const char*, text), (const char*, port_name))         \
  ROW(sSendBlack, 30, no, int32_t, Blacklist, exchange::sSendBlack,                                \
      "s", "card entries with the command code of --command and frame byte 2 from --high",         \
      (int32_t, address_word), (int32_t, command_code), (int32_t, count),                          \
      (const uint8_t*, entries), (const char*, port_name))                                         \
                                                                                                   \
  ROW(HANDLE_ComData, 27, no, int32_t, Module, exchange::HANDLE_ComData,                           \
      "", "",                                                                                      \
      (tarvex_port_t, port), (int32_t, n), (uint8_t*, frame), (int32_t, m), (uint8_t*, block),     \
      (int32_t, reply_length), (uint8_t*, reply), (uint32_t, limit_ms))                            \
  ROW(getDataUIM, 28, no, int32_t, Module, exchange::getDataUIM,                                   \
      "", "",                                                                                      \
      (tarvex_port_t, port), (int32_t, n), (const uint8_t*, frame), (int32_t, reply_length),       \
      (uint8_t*, reply), (uint32_t, limit_ms))                                                     \
  ROW(sam_GetData, 29, no, int32_t, Module, exchange::sam_GetData,                                 \
      "", "",                                                                                      \
      (tarvex_port_t, port), (int32_t, n), (const uint8_t*, frame), (int32_t, reply_length),       \
      (uint8_t*, reply), (uint32_t, limit_ms))                                                     \
                                                                                                   \
  ROW(onNet, 31, no, int32_t, OnlineQuery, exchange::onNet,                                        \
      "plain", "opens the port by name for the query and releases it",                             \
      (int32_t, address), (uint8_t*, record), (const char*, port_name))                            \
  ROW(HANDLE_OnNet, 32, no, int32_t, OnlineQuery, exchange::HANDLE_OnNet,                          \
      "handle", "on a held port (com_init/com_exit around it), with its own timing",               \
      (tarvex_port_t, port), (int32_t, address), (uint8_t*, record))                               \
                                                                                                   \
  ROW(keylock, 4, same, int32_t, LockTransform, transform::keylock,                                \
      "keylock", "plain code to key form, one code (3 bytes)",                                     \
      (int32_t, ignored), (const uint8_t*, in), (uint8_t*, out))                                   \
  ROW(cardLock, 3, same, int32_t, LockTransform, transform::cardLock,                              \
      "cardlock", "plain code to card form, one code (3 bytes)",                                   \
      (int32_t, ignored), (const uint8_t*, in), (uint8_t*, out))                                   \
  ROW(faka_485, 18, no, int32_t, LockTransform, transform::faka_485,                               \
      "faka-485", "key form to card form, two codes (6 bytes)",                                    \
      (int32_t, ignored), (const uint8_t*, in), (uint8_t*, out))                                   \
  ROW(faka_4852, 19, no, int32_t, LockTransform, transform::faka_4852,                             \
      "faka-4852", "key form back to the plain code, two codes (6 bytes)",                         \
      (int32_t, ignored), (const uint8_t*, in), (uint8_t*, out))                                   \
  ROW(fakaUnlock, 17, no, int32_t, LockTransform, transform::fakaUnlock,                           \
      "faka-unlock", "card form to key form, two codes (6 bytes)",                                 \
      (int32_t, ignored), (const uint8_t*, in), (uint8_t*, out))                                   \
                                                                                                   \
  ROW(abcd, 8, same, int32_t, SmallCodec, transform::abcd,                                         \
      "abcd", "8 characters (as a rule decimal digits) to an 8-character hex code, by --mode",     \
      (const uint8_t*, in), (uint8_t*, out), (int32_t, mode))                                      \
  ROW(change, 20, no, int32_t, SmallCodec, transform::change,                                      \
      "change", "mixes 6 bytes (hex) into 6",                                                      \
      (const uint8_t*, in), (uint8_t*, out))                                                       \
  ROW(ascc, 5, same, int32_t, SmallCodec, transform::ascc,                                         \
      "ascc", "copies 3 bytes (hex)",                                                              \
      (const uint8_t*, in), (uint8_t*, out))                                                       \
  ROW(MJExchangeData, 21, no, int32_t, SmallCodec, transform::MJExchangeData,                      \
      "", "")
