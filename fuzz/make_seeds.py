#!/usr/bin/env python3
"""Writes the seed corpus of each fuzz target: a handful of inputs that each
start from a well-formed call (a nominal exchange, a typical text, list or
code), so the fuzzer mutates from there. Run it again after changing an
input layout; the layouts are described at the top of each target."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))

# The exchange target's entry points, in its table's order.
ENTRY = {name: i for i, name in enumerate([
    "getdata", "nGetData", "dxGetdata", "Nget", "HANDLE_GetData",
    "senddata", "nSendData", "dxSenddata", "Nsend", "HANDLE_SendData", "sendDataUIM",
    "HANDLE_ComData", "getDataUIM", "sam_GetData", "onNet", "HANDLE_OnNet",
    "getdata_hex", "senddata_hex", "sendBlack", "sendBlack_hex", "sSendBlack",
    "com_init and com_exit", "getdata (legacy build)", "senddata (legacy build)"])}


def checksum(data):
    return bytes(data) + bytes([sum(data) & 0xFF])


def exchange(entry, n=0, m=0, reply=0, pool=b"", answers=(), fault=(0, 0), limit=1000,
             address=5, code=0, count=0, tick_start=0):
    out = struct.pack("<BIBBHBB", ENTRY[entry], tick_start, 10, fault[0], fault[1], 0, 0)
    out += struct.pack("<BBBHIIBBH", n, m, reply, limit, 9600, address, code, count, len(pool))
    out += bytes(pool)
    out += struct.pack("<BH", 0, 0)  # no noise
    for after, data in answers:
        out += struct.pack("<BHBB", after, 10, 0, len(data)) + bytes(data)
    return out


EXCHANGE_SEEDS = {
    "getdata": exchange("getdata", n=3, reply=3, pool=[0x05, 0xC2, 0x33, 0x00],
                        answers=[(4, checksum([0x10, 0x20, 0x30]))]),
    "getdata_garbled_read": exchange("getdata", n=3, reply=3, pool=[0x05, 0xC2, 0x33, 0x00],
                                     answers=[(4, checksum([0x10, 0x20, 0x30]))], fault=(2, 140)),
    "HANDLE_SendData_across_wrap": exchange("HANDLE_SendData", n=3, m=3,
                                            pool=[0x05, 0xA1, 0x33, 0x00, 0x00, 0x11, 0x22, 0x33],
                                            answers=[(8, [0x02, 0x4F])], tick_start=0xFFFFFFF0),
    "HANDLE_ComData": exchange("HANDLE_ComData", n=3, m=3, reply=2,
                               pool=[0x05, 0xA1, 0x33, 0x00, 0x00, 0x11, 0x22, 0x33],
                               answers=[(8, checksum([0x10, 0x20]))]),
    "sam_GetData": exchange("sam_GetData", n=4, reply=3, pool=[0x05, 0x06, 0x01, 0x02],
                            answers=[(4, [0x07, 0x08, 0x09])]),
    "onNet": exchange("onNet", answers=[(5, checksum([0x12, 0x34, 1, 2, 3, 4, 0])),
                                        (5, checksum([0x00, 0x05, 0x0A, 0x0B, 0x00]))]),
    "getdata_hex": exchange("getdata_hex", n=3, reply=3, pool=b"05C233",
                            answers=[(4, checksum([0x10, 0x20, 0x30]))]),
    "senddata_hex": exchange("senddata_hex", n=3, m=3, pool=b"05A1331122",
                             answers=[(8, [0x02, 0x4F])]),
    "sendBlack": exchange("sendBlack", count=2, pool=[0, 0, 1, 0, 0, 2, 0, 0, 3],
                          answers=[(13, [0x02, 0x4F])]),
    "legacy_senddata": exchange("senddata (legacy build)", n=3, m=3,
                                pool=[0x05, 0xA1, 0x33, 0x00, 0x00, 0x11, 0x22, 0x33],
                                answers=[(8, [0x02, 0x4F])]),
    "sendBlack_hex": exchange("sendBlack_hex", count=2, pool=b"000001000002000003",
                              answers=[(13, [0x02, 0x4F])]),
}

HEX_TEXT_SEEDS = {
    "digits": b"05A1330a0bFf",
    "carry": b"1G!~zZ",
    "high_characters": bytes([0x80, 0x41, 0xFF, 0x30, 0xE9, 0x66]),
}

BLACKLIST_SEEDS = {
    "three_cards": bytes([0, 0, 0, 1, 0, 0, 2, 0, 0, 3]),
    "one_card": bytes([0, 0, 0x04, 0x01]),
    "ascending": bytes([1]) + struct.pack("<10H", *([6] * 10)),
    "above_the_cap": bytes([0, 0, 0, 5, 1, 0xFF, 0xB8]),
}

TRANSFORM_SEEDS = {
    "keylock": bytes([0]) + struct.pack("<I", 0) + bytes([0x12, 0x34, 0x56]),
    "faka_485": bytes([2]) + struct.pack("<I", 0) + bytes([0x21, 0x43, 0x65, 0x87, 0x09, 0x21]),
    "fakaUnlock": bytes([4]) + struct.pack("<I", 0) + bytes([0x12, 0x34, 0x56, 0x12, 0x34, 0x56]),
    "abcd_mode_1": bytes([5]) + struct.pack("<I", 1) + b"12345678",
    "change": bytes([6]) + struct.pack("<I", 0) + b"123456",
}


def write(target, seeds):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    for name, data in seeds.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)


write("exchange", EXCHANGE_SEEDS)
write("hex_text", HEX_TEXT_SEEDS)
write("blacklist_block", BLACKLIST_SEEDS)
write("transform", TRANSFORM_SEEDS)
