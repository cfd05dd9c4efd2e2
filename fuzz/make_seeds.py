#!/usr/bin/env python3
"""Writes the seed inputs of fuzz/corpus/<target>/seed-*.

The seeds are the documented byte examples of each input: the request and
reply frames of the link layer, the virtual pack's answers (status block,
register replies, history records with their sums, Modbus and gateway
replies), and the files the tool reads (INI, test plan, MTD.ini, BLOCK_C.ini,
SOC table) with the keys taken from the tables of the core. Every seed starts
with the target's mode byte (bit 7: mend checksums). Run it from anywhere;
it rewrites only files named seed-*, never a finding kept in the corpus.
"""
import os
import re
import struct

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
CORPUS = os.path.join(ROOT, "fuzz", "corpus")


def put(target, name, data):
    d = os.path.join(CORPUS, target)
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, "seed-" + name), "wb") as f:
        f.write(bytes(data))


def xor(b):
    x = 0
    for v in b:
        x ^= v
    return x


def frame(fid, data8):
    f = [0x40, 0x00, fid] + list(data8)
    return f + [xor(f), 0x0D]


def reply(address, length, data8, status=0):
    head = frame(3, [address >> 8, address & 0xFF, length >> 8, length & 0xFF, 0, 0, 0, status])
    return head + frame(4, data8)


def burst(b):
    return [len(b)] + list(b)


def crc16(b):
    crc = 0xFFFF
    for v in b:
        crc ^= v
        for _ in range(8):
            crc = (crc >> 1) ^ 0xA001 if crc & 1 else crc >> 1
    return [crc & 0xFF, crc >> 8]


def crc8(b):
    crc = 0
    for v in b:
        crc ^= v
        for _ in range(8):
            crc = ((crc << 1) ^ 0x85) & 0xFF if crc & 0x80 else (crc << 1) & 0xFF
    return crc


cells = [3301, 3302, 3299, 3305]
cell_data = [x for v in cells for x in struct.pack(">H", v)]

# ---- link_reply: mode (op), expected address and length, bursts ----
request = [0x40, 0x00, 0x01, 0x10, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x51, 0x0D]
good = reply(0x1001, 1, cell_data)
for op in range(5):
    put("link_reply", "cells-op%d" % op, [op, 0x10, 0x01, 0x00, 0x01] + burst(good))
put("link_reply", "echo-header-only", [2, 0x10, 0x01, 0x00, 0x01] + burst(good[:13]))
put("link_reply", "request-frame", [0, 0x10, 0x01, 0x00, 0x01] + burst(request))
put("link_reply", "status-one", [1, 0, 0, 0, 0] + burst(reply(0x1001, 1, cell_data, status=1)))
put("link_reply", "three-frames", [0, 0, 0, 0, 0] + burst(good + good[:13]))
bad = list(good)
bad[24] ^= 0x01
put("link_reply", "second-checksum-bad", [0x81, 0, 0, 0, 0] + burst(bad))
put("link_reply", "split-and-drain", [4, 0, 0, 0, 0] + burst(good[:13]) + burst(good[13:]) + [0xFF, 0])
put("link_reply", "unplugged-after-reply", [1, 0, 0, 0, 0, 0xFF] + burst(good))

# ---- status_block: the virtual pack's block ----
def status_block():
    b = [0] * 96
    b[0] = 0x4A
    b[1], b[2] = 87, 85
    b[3:5] = struct.pack(">H", 123)
    b[5:9] = struct.pack(">I", 10000)
    b[9:15] = struct.pack(">HI", 0, 1234567)
    b[15:19] = struct.pack(">I", 9800)
    b[19:23] = struct.pack(">I", 8500)
    b[23:27] = struct.pack(">i", -1500)
    b[27:31] = struct.pack(">I", 53200)
    fw = b"VP16S1P V1.2"
    b[31:31 + len(fw)] = fw
    b[43], b[44] = 1, 2
    b[45], b[46], b[47], b[48] = 16, 1, 0x01, 0x04
    b[50], b[51], b[52] = 25, 26, 0xF6
    b[56:64] = b"SN123456"
    b[64:76] = [0x01, 0x02, 0, 10, 45, 0, 0, 0x10, 0, 0, 0x20, 0x30]
    b[95] = sum(b[1:95]) & 0xFF
    return b


blk = status_block()
put("status_block", "block", [0x00] + burst(blk))
put("status_block", "block-tabs", [0x06] + burst(blk))
put("status_block", "block-split", [0x80] + burst(blk[:40]) + burst(blk[40:]))
put("status_block", "wrong-start", [0x80] + burst([0x4B] + blk[1:]))
put("status_block", "shu-ack", [0x01] + burst([0] * 23))

# ---- decode_reply: mode, cell series, then address, length, 8 bytes ----
def rec(address, length, data8):
    return list(struct.pack(">HH", address, length)) + list(data8)


regs = []
for page in range(1, 5):
    regs += rec(0x1001, page, cell_data)
    regs += rec(0x100B, page, cell_data)
regs += rec(0x1005, 0, [26, 12, 9, 0, 30, 15, 0, 0])
regs += rec(0x0005, 0, [1, 2, 3, 0, 0, 0, 0, 0])
regs += rec(0x0006, 0, [0x00, 0xFF, 0, 0, 0, 0, 0, 0])
regs += rec(0x100C, 3, [0, 35, 0, 0, 0, 0, 0, 0])
regs += rec(0x100D, 26, [0x0C, 0xE4, 0x0D, 0x00, 0x0D, 0x10, 0x0D, 0x20])
regs += rec(0x100E, 1, [0, 0, 0, 0, 0, 0x12, 0xD6, 0x87])
regs += rec(0x2001, 0, list(b"SN123456"))
for page in range(1, 5):
    regs += rec(0x2008, page, list(b"BARCODE%d" % page)[:8])
regs += rec(0x200B, 0, [1, 0, 0, 0, 0, 0, 0, 0])
for page in range(1, 7):
    regs += rec(0x3300, page, [0x41, 0xF6, 0x0E, 0x74, 0x00, 0x0F, 0xA0, 0x05])
put("decode_reply", "register-map", [0x00, 14] + regs)
# One reply per seed as well: short inputs keep the mutations on the bytes
# of one register.
for i in range(0, len(regs), 12):
    address, length = struct.unpack(">HH", bytes(regs[i:i + 4]))
    put("decode_reply", "reg-%04x-%d" % (address, length), [0x00, 14] + regs[i:i + 12])
record = [26, 12, 9, 10, 20, 30] + list(struct.pack(">iI", -2500, 52000)) + [80, 25] + list(struct.pack(">HH", 12, 123)) + [0x81] + [0] * 9
s = sum(record[:30])
record[30:32] = [s >> 8, s & 0xFF]
hist = rec(0x6500, 0, [0, 3, 0, 0, 0, 0, 0, 0])
for k in range(4):
    hist += rec(0x6501, k + 1, record[8 * k:8 * k + 8])
put("decode_reply", "history-record", [0x80, 14] + hist)

# ---- history_record: mode (block), chunk order, number, 32 bytes ----
for block in range(3):
    put("history_record", "record-block%d" % block, [block, 0x0F, 0, 1] + record)
prot = list(record)
prot[20] = 0x25
put("history_record", "protection-bits", [0x80, 0x0F, 0x01, 0x00] + prot)
put("history_record", "reverse-order", [0x82, 0x1F, 0x27, 0x0F] + record)

# ---- history_header: mode, then page, low byte, length, 8 bytes ----
hdr = [0]
hdr += [0, 0x00, 0] + [0, 64, 0, 0, 0, 0, 0, 0]
hdr += [0, 0x01, 0] + list(b"HDR") + [1, 0, 0, 0, 0]
hdr += [0, 0x02, 0] + [10, 0, 0, 0, 0, 0, 0, 0]
hdr += [1, 0x04, 1] + list(b"NCR18650")
hdr += [1, 0x04, 2] + list(b"B\0\0\0\0\0\0\0")
for page in range(1, 5):
    hdr += [1, 0x07, page] + list(b"PACK%04d" % page)
for k in range(10):
    hdr += [2, k, 0] + [0, k + 1, 0, 0, 0, 0, 0, 0]
for k in range(8):
    hdr += [3, k, 0] + list(struct.pack(">ii", k, -k * 100))
put("history_header", "header", hdr)

# ---- ini: section, key, value, other section, other key (NUL-separated), file ----
ini_file = b"; settings\r\n[Port]\r\nName = /dev/ttyUSB0\r\nBaud=19200\r\n\r\n[Log]\r\nFolder=\"logs\"\r\n"
put("ini", "replace", [0] + list(b"port\0baud\09600\0Log\0Folder\0") + list(ini_file))
put("ini", "new-section", [0] + list(b"New\0Key\0value\0Port\0Name\0") + list(ini_file))
put("ini", "new-file", [0] + list(b"Set\0TestRepeatCnt\03\0Set\0Other\0"))
put("ini", "lf-only", [0] + list(b"A\0k\0v\0A\0j\0") + list(b"[A]\nj=1\nk=2\n[B]\nk=3"))

# ---- files read from the tables of the core ----
def read(rel):
    with open(os.path.join(ROOT, rel), encoding="utf-8") as f:
        return f.read()


plan = read("src/core/production_test/test_plan.cpp")
text = ""
section = None
for sec, key, conv, default in re.findall(r'\{"(Set|Check|PRODIGIT_Instrument)", "([^"]+)", (\w+), "([^"]*)"', plan):
    if sec != section:
        text += "[%s]\r\n" % sec
        section = sec
    value = {"kReal": "2.5", "kTrunc": "1.9", "kIntReal": "12", "kText": "PACK", "kSwitch": "1"}.get(conv, "10")
    text += "%s=%s\r\n" % (key.strip(), value)
put("test_plan", "full-plan", [0] + list(text.encode()))
put("test_plan", "reals", [0] + list(b"[Set]\r\nfBtyDsgLOADCurrent=2.5e3\r\nT1T2_DsgCurrentInDeepSeep_Test=-1.5E0\r\n"))
put("test_plan", "not-a-number", [0] + list(b"[Set]\r\nTestRepeatCnt=4\r\n[Check]\r\nSOCMax=9O\r\n"))

fw = read("src/core/parameters/fw_tables.cpp")
keys = re.findall(r'\{\d, \d, \w+, "\w+", "[^"]*", [^,]+, "(\w+)"', fw)
mtd = "[FWProtectParapmterLoad]\r\n" + "".join("%s=%d\r\n" % (k, 10 + i) for i, k in enumerate(keys))
mtd += "[FWSOCVTableLoad]\r\n" + "".join("SOV%dLoad=%d\r\n" % (n, 3000 + 12 * n) for n in range(1, 102))
put("mtd_ini", "protection", [0] + list(mtd.encode()))
put("mtd_ini", "socv", [1] + list(mtd.encode()))

eep2 = read("src/core/parameters/eep2_table.cpp")
block_c = eep2[eep2.index("const Row kBlockC[]"):]
block_c = block_c[:block_c.index("};")]
ckeys = re.findall(r'\{"Edit_(\w+)"', block_c)
ini_c = "[Block_C]\r\n" + "".join("%s=%d\r\n" % (k, 100 + i) for i, k in enumerate(ckeys))
put("block_c_ini", "block-c", [0] + list(ini_c.encode()))
put("block_c_ini", "negative-and-text", [0] + list(("[Block_C]\r\n" + "".join("%s=-%d\r\n" % (k, i) for i, k in enumerate(ckeys))).encode()))

soc = "".join("%d\r\n" % (4200 - 12 * k) for k in range(101))
put("soc_table", "table", [0] + list(soc.encode()))
put("soc_table", "short", [0] + list(b"4200\n4100\n"))

# ---- modbus_reply: mode (bit 0 write, bit 1 slave byte), start, quantity, bursts ----
data = [0x00, 0x10, 0x00, 0x20]
read_reply = [0x60, 0x03, 4] + data
read_reply += crc16(read_reply)
put("modbus_reply", "read-two", [0x00, 0x42, 0x07, 2] + burst(read_reply))
echo = [0x60, 0x16, 0x42, 0x07, 0x00, 0x02]
echo += crc16(echo)
put("modbus_reply", "write-echo", [0x01, 0x42, 0x07, 2] + burst(echo))
put("modbus_reply", "read-other-slave", [0x82, 0x01, 0x00, 0x10, 1] + burst([0x01, 0x03, 2, 0x12, 0x34, 0, 0]))

# ---- gateway_reply: mode, address, register, bursts ----
g = [0x55, 0xAA, 0x02, 0x02, 0x00, 0x00, 0x60, 0x15, 0x3C] + [0] * 8
g += [crc8(g[2:17]), 0x0D]
put("gateway_reply", "value-byte8", [0, 0x60, 0x15] + burst(g))
g7 = list(g)
g7[3] = 0x04
g7[17] = crc8(g7[2:17])
put("gateway_reply", "value-byte7", [0, 0x60, 0x15] + burst(g7))
put("gateway_reply", "short", [0x80, 0x60, 0x15] + burst(g[:10]) + [0xFF, 0])
put("gateway_reply", "unplugged-after-reply", [0x80, 0x60, 0x15, 0xFF] + burst(g))
