#!/usr/bin/env python3
"""Damages price-list workbooks and checks what ratemover-batch makes of them.

Each mutant is one small, aimed piece of damage to a real workbook. The script
knows where it damaged the file, because it reads the container (OLE2 compound
file or ZIP) and, for .xls, the BIFF records itself. Every mutant is copied
under a neutral name, converted with the default profile, and its outcome
sorted:

  refused              the program would not read it (exit 2, or 1 for an
                       active sheet that is no worksheet; no price line)
  exact                the same rate file as the undamaged workbook gives
  differing-valid      another rate file, and the damage hit only what a valid
                       workbook may hold (a cell's value, its format, a string's
                       characters): BIFF carries no checksum, so such a file
                       is a different workbook, not a broken one
  differing-structural another rate file from broken structure: a fault
  crashed / hung       the program died or did not end: a fault

Usage:
  differential.py BATCH_PROGRAM [--seed N] [--count N] [--fixture FILE ...]
                  [--keep DIR] [--strict] [--jobs N]

With --strict the exit status is 1 when any fault outcome appears; it is 77
(skipped) when the program has not been built.
Standard library only.
"""

import argparse
import collections
import concurrent.futures
import io
import os
import random
import resource
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import threading
import warnings
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
WORKBOOKS = os.path.join(HERE, "..", "data", "workbooks")
DEFAULT_FIXTURES = ["data3000.xls", "data3000_biff5.xls", "data3000.xlsx", "data3000.ods"]
FAULTS = ("differing-structural", "crashed", "hung")

# ---------------------------------------------------------------------------
# OLE2 compound file


class CompoundFile:
    """The sectors of a compound file and the chain of its workbook stream."""

    END_OF_CHAIN = 0xFFFFFFFE

    def __init__(self, data):
        if data[:8] != b"\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1":
            raise ValueError("not a compound file")
        self.data = data
        self.sector_size = 1 << struct.unpack_from("<H", data, 0x1E)[0]
        self.mini_size = 1 << struct.unpack_from("<H", data, 0x20)[0]
        fat_count, first_dir = struct.unpack_from("<II", data, 0x2C)
        self.cutoff, first_mini_fat, _, first_difat, difat_count = struct.unpack_from("<IIIII", data, 0x38)
        difat = list(struct.unpack_from("<109I", data, 0x4C))
        sector = first_difat
        for _ in range(difat_count):
            entries = struct.unpack_from("<%dI" % (self.sector_size // 4), data, self.offset_of(sector))
            difat.extend(entries[:-1])
            sector = entries[-1]
        self.fat_sectors = [s for s in difat[:fat_count]]
        self.fat = []
        for s in self.fat_sectors:
            self.fat.extend(struct.unpack_from("<%dI" % (self.sector_size // 4), data, self.offset_of(s)))
        self.dir_sectors = self.chain(first_dir)
        self.entries = []
        for s in self.dir_sectors:
            base = self.offset_of(s)
            for i in range(self.sector_size // 128):
                e = data[base + 128 * i: base + 128 * (i + 1)]
                name_length = struct.unpack_from("<H", e, 64)[0]
                name = e[:max(0, name_length - 2)].decode("utf-16-le", "replace")
                kind = e[66]
                start, size = struct.unpack_from("<II", e, 116)
                self.entries.append((name, kind, start, size, base + 128 * i))
        root = self.entries[0]
        self.mini_stream = self.chain(root[2])
        self.mini_fat = []
        for s in self.chain(first_mini_fat) if first_mini_fat < self.END_OF_CHAIN else []:
            self.mini_fat.extend(struct.unpack_from("<%dI" % (self.sector_size // 4), data, self.offset_of(s)))

    def offset_of(self, sector):
        return (sector + 1) * self.sector_size

    def chain(self, start):
        sectors = []
        while start < len(self.fat) and len(sectors) <= len(self.fat):
            sectors.append(start)
            start = self.fat[start]
        return sectors

    def stream(self, names):
        """(name, file offset of every stream byte) of the first stream whose
        name matches, case folded."""
        for wanted in names:
            for name, kind, start, size, _ in self.entries:
                if kind == 2 and name.lower() == wanted.lower():
                    return name, self.byte_offsets(start, size)
        raise ValueError("no workbook stream")

    def byte_offsets(self, start, size):
        offsets = []
        if size >= self.cutoff:
            for s in self.chain(start):
                base = self.offset_of(s)
                offsets.extend(range(base, base + self.sector_size))
        else:
            mini = start
            while mini < len(self.mini_fat) and len(offsets) < size:
                at = mini * self.mini_size
                sector = self.mini_stream[at // self.sector_size]
                base = self.offset_of(sector) + at % self.sector_size
                offsets.extend(range(base, base + self.mini_size))
                mini = self.mini_fat[mini]
        return offsets[:size]


# ---------------------------------------------------------------------------
# BIFF records: which byte of the workbook stream holds what

BOF, EOF, CONTINUE, SST, BOUNDSHEET = 0x0809, 0x000A, 0x003C, 0x00FC, 0x0085
NUMBER, RK, MULRK, LABELSST, LABEL, RSTRING = 0x0203, 0x027E, 0x00BD, 0x00FD, 0x0204, 0x00D6
BOOLERR, FORMULA, STRING, BLANK, MULBLANK = 0x0205, 0x0006, 0x0207, 0x0201, 0x00BE
CELLS = {NUMBER, RK, MULRK, LABELSST, LABEL, RSTRING, BOOLERR, FORMULA, BLANK, MULBLANK}
# the cells of Excel 2.x, which the later versions before Excel 5 may write too
CELLS_BIFF2 = {0x0001: "BLANK2", 0x0002: "INTEGER2", 0x0003: "NUMBER2", 0x0004: "LABEL2", 0x0005: "BOOLERR2",
               0x0006: "FORMULA2"}
CELLS |= set(CELLS_BIFF2)
NAMES = {BOF: "BOF", EOF: "EOF", CONTINUE: "CONTINUE", SST: "SST", BOUNDSHEET: "BOUNDSHEET", NUMBER: "NUMBER",
         RK: "RK", MULRK: "MULRK", LABELSST: "LABELSST", LABEL: "LABEL", RSTRING: "RSTRING", BOOLERR: "BOOLERR",
         FORMULA: "FORMULA", STRING: "STRING", BLANK: "BLANK", MULBLANK: "MULBLANK", 0x0200: "DIMENSIONS",
         0x0208: "ROW", 0x020B: "INDEX", 0x00D7: "DBCELL", 0x00E0: "XF", 0x041E: "FORMAT", 0x0031: "FONT",
         0x003D: "WINDOW1", 0x023E: "WINDOW2", 0x0022: "DATEMODE", 0x0042: "CODEPAGE", 0x04BC: "SHRFMLA"}

# What a field is: "value" fields may change in a valid workbook, "structure"
# fields may not; an "address" is valid while the cells stay in order.
VALUE, STRUCTURE, ADDRESS, SST_INDEX = "value", "structure", "address", "sst-index"


class Biff:
    def __init__(self, stream):
        self.stream = stream
        self.records = []  # (type, length, offset of the header)
        self.field = {}  # stream offset -> (kind, description)
        self.cells = []  # (row, column, record index) in stream order, per sheet
        self.sheet_of_record = {}
        self.string_count = 0
        at = 0
        while at + 4 <= len(stream):
            kind, length = struct.unpack_from("<HH", stream, at)
            if kind == 0 and length == 0 and all(b == 0 for b in stream[at:]):
                break  # padding at the end of the stream
            if at + 4 + length > len(stream):
                break
            self.records.append((kind, length, at))
            at += 4 + length
        self.biff8 = bool(self.records) and len(stream) > 6 and struct.unpack_from("<H", stream, 4)[0] == 0x0600
        sheet = -1
        for index, (kind, length, at) in enumerate(self.records):
            self.mark(at, 4, STRUCTURE, "%s header" % self.name(kind))
            if kind == BOF:
                sheet += 1
            self.sheet_of_record[index] = sheet
            self.describe(index, kind, length, at + 4)
        self.describe_sst()

    @staticmethod
    def name(kind):
        return NAMES.get(kind, CELLS_BIFF2.get(kind, "0x%04X" % kind))

    def mark(self, at, size, kind, what):
        for i in range(at, at + size):
            self.field[i] = (kind, what)

    def describe(self, index, kind, length, at):
        n = self.name(kind)
        self.mark(at, length, VALUE, "%s data" % n)  # by default a record's data is content
        if kind == BOF:
            self.mark(at, 4, STRUCTURE, "BOF version/type")
        elif kind == BOUNDSHEET:
            self.mark(at, 4, STRUCTURE, "BOUNDSHEET offset")
            self.mark(at + 5, 1, STRUCTURE, "BOUNDSHEET type")
        elif kind in CELLS and length >= 6:
            row, column = struct.unpack_from("<HH", self.stream, at)
            self.cells.append((row, column, index))
            self.mark(at, 4, ADDRESS, "%s row/column" % n)
            if kind == MULRK or kind == MULBLANK:
                self.mark(at + length - 2, 2, STRUCTURE, "%s last column" % n)
            elif kind == LABELSST:
                self.mark(at + 6, 4, SST_INDEX, "LABELSST string index")
            elif kind in (LABEL, RSTRING):
                self.mark(at + 6, 3 if self.biff8 else 2, STRUCTURE, "%s length/options" % n)
                if kind == RSTRING:
                    self.mark(at + 6, length - 6, STRUCTURE, "RSTRING")
            elif kind == FORMULA and length >= 22:
                self.mark(at + 12, 2, STRUCTURE, "FORMULA result kind")  # 0xFFFF asks for a STRING record
                self.mark(at + 20, 2, STRUCTURE, "FORMULA token length")
        elif kind == STRING:
            self.mark(at, 3 if self.biff8 else 2, STRUCTURE, "STRING length/options")
        elif kind == SST:
            self.mark(at, length, STRUCTURE, "SST")  # refined below
        elif kind == CONTINUE:
            previous = self.records[index - 1][0] if index > 0 else 0
            self.mark(at, length, STRUCTURE, "CONTINUE of %s" % self.name(previous))

    def describe_sst(self):
        """The shared strings: counts, lengths and options are structure, the
        characters content."""
        for index, (kind, length, at) in enumerate(self.records):
            if kind != SST or not self.biff8:
                continue
            pieces = [(at + 4, length)]
            j = index + 1
            while j < len(self.records) and self.records[j][0] == CONTINUE:
                pieces.append((self.records[j][2] + 4, self.records[j][1]))
                j += 1
            self.walk_sst(pieces)

    def walk_sst(self, pieces):
        stream = self.stream
        state = {"piece": 0, "at": pieces[0][0]}

        def left():
            p = state["piece"]
            return pieces[p][0] + pieces[p][1] - state["at"]

        def take(count, kind, what):
            while count > 0:
                if state["piece"] >= len(pieces):
                    raise ValueError
                if left() == 0:
                    state["piece"] += 1
                    if state["piece"] >= len(pieces):
                        raise ValueError
                    state["at"] = pieces[state["piece"]][0]
                    continue
                step = min(count, left())
                self.mark(state["at"], step, kind, what)
                state["at"] += step
                count -= step

        def read(count):
            start_piece, start_at = state["piece"], state["at"]
            data = b""
            p, a = start_piece, start_at
            while len(data) < count:
                if a == pieces[p][0] + pieces[p][1]:
                    p += 1
                    if p >= len(pieces):
                        raise ValueError
                    a = pieces[p][0]
                    continue
                data += stream[a:a + 1]
                a += 1
            return data

        try:
            take(4, VALUE, "SST total count")
            unique = struct.unpack("<I", read(4))[0]
            take(4, STRUCTURE, "SST string count")
            for _ in range(unique):
                cch = struct.unpack("<H", read(2))[0]
                take(2, STRUCTURE, "SST string length")
                options = read(1)[0]
                take(1, STRUCTURE, "SST string options")
                runs = ext = 0
                if options & 0x08:
                    runs = struct.unpack("<H", read(2))[0]
                    take(2, STRUCTURE, "SST run count")
                if options & 0x04:
                    ext = struct.unpack("<I", read(4))[0]
                    take(4, STRUCTURE, "SST extension size")
                wide = options & 0x01
                remaining = cch
                while remaining > 0:
                    if left() == 0:
                        # a string split over a CONTINUE: a fresh option byte
                        state["piece"] += 1
                        state["at"] = pieces[state["piece"]][0]
                        wide = stream[state["at"]] & 0x01
                        take(1, STRUCTURE, "SST continued string options")
                        continue
                    chars = min(remaining, left() // (2 if wide else 1))
                    take(chars * (2 if wide else 1), VALUE, "SST characters")
                    remaining -= chars
                take(4 * runs, VALUE, "SST formatting runs")
                take(ext, VALUE, "SST phonetic data")
                self.string_count += 1
        except (ValueError, IndexError, struct.error):
            pass

    def cell_index_of(self, record_index):
        for i, cell in enumerate(self.cells):
            if cell[2] == record_index:
                return i
        return None

    def address_stays_in_order(self, record_index, row, column):
        """Whether a cell moved to (row, column) keeps its sheet's cells in
        strictly ascending order, within the 256 columns."""
        i = self.cell_index_of(record_index)
        kind, length, at = self.records[record_index]
        last = column
        if kind in (MULRK, MULBLANK):
            last = column + (length - 6) // (6 if kind == MULRK else 2) - 1
            if last != struct.unpack_from("<H", self.stream, at + 4 + length - 2)[0]:
                return False
        if last > 255:
            return False
        sheet = self.sheet_of_record[record_index]
        before = [c for c in self.cells[:i] if self.sheet_of_record[c[2]] == sheet]
        after = [c for c in self.cells[i + 1:] if self.sheet_of_record[c[2]] == sheet]
        if before and (before[-1][0], self.last_column(before[-1])) >= (row, column):
            return False
        if after and (after[0][0], after[0][1]) <= (row, last):
            return False
        return True

    def last_column(self, cell):
        kind, length, at = self.records[cell[2]]
        if kind in (MULRK, MULBLANK):
            return cell[1] + (length - 6) // (6 if kind == MULRK else 2) - 1
        return cell[1]


class XlsTarget:
    """A .xls fixture: its bytes, the compound file and the BIFF map."""

    def __init__(self, data):
        self.data = data
        self.ole = CompoundFile(data)
        self.stream_name, self.offsets = self.ole.stream(["Workbook", "Book"])
        self.stream = bytes(data[o] for o in self.offsets)
        self.biff = Biff(self.stream)
        self.file_to_stream = {o: i for i, o in enumerate(self.offsets)}
        self.stream_sectors = sorted({o // self.ole.sector_size for o in self.offsets})

    def what_at(self, file_offset, new_byte):
        """(verdict, description) of a one-byte change at a file offset."""
        at = self.file_to_stream.get(file_offset)
        if at is None:
            if file_offset < 512:
                return STRUCTURE, "compound file header"
            sector = file_offset // self.ole.sector_size - 1
            if sector in self.ole.fat_sectors:
                return STRUCTURE, "FAT"
            if sector in self.ole.dir_sectors:
                return STRUCTURE, "directory"
            return STRUCTURE, "outside the workbook stream"
        kind, what = self.biff.field.get(at, (STRUCTURE, "after the records"))
        if kind in (VALUE, STRUCTURE):
            return kind, what
        record_index = self.record_at(at)
        rtype, length, header = self.biff.records[record_index]
        data = bytearray(self.stream[header + 4: header + 4 + length])
        data[at - header - 4] = new_byte
        if kind == SST_INDEX:
            index = struct.unpack_from("<I", data, 6)[0]
            return (VALUE if index < self.biff.string_count else STRUCTURE), what
        row, column = struct.unpack_from("<HH", data, 0)
        if self.biff.address_stays_in_order(record_index, row, column):
            return VALUE, what + " (still in order)"
        return STRUCTURE, what

    def record_at(self, stream_offset):
        lo, hi = 0, len(self.biff.records) - 1
        while lo < hi:
            mid = (lo + hi + 1) // 2
            if self.biff.records[mid][2] <= stream_offset:
                lo = mid
            else:
                hi = mid - 1
        return lo

    def mutate(self, rng):
        """(bytes of the mutant, verdict, description)."""
        data = bytearray(self.data)
        biff = self.biff
        operator = rng.choice(["bitflip", "bitflip", "byteset", "byteset", "record-length", "record-type",
                               "row", "sst-field", "sector-swap", "fat-entry"])
        if operator in ("bitflip", "byteset"):
            if rng.random() < 0.8:
                at = self.offsets[rng.randrange(len(self.offsets))]
            else:
                at = rng.randrange(len(data))
            old = data[at]
            new = old ^ (1 << rng.randrange(8)) if operator == "bitflip" else rng.choice([0, 0xFF, rng.randrange(256)])
            if new == old:
                new = old ^ 0x01
            data[at] = new
            verdict, what = self.what_at(at, new)
            return bytes(data), verdict, "%s at %d: %s" % (operator, at, what)
        if operator == "record-length":
            kind, length, header = rng.choice(biff.records)
            new = rng.choice([length + 1, max(0, length - 1), length + rng.randrange(2, 64), rng.randrange(65536)])
            if new == length:
                new = length + 1
            self.put16(data, header + 2, new)
            return bytes(data), STRUCTURE, "%s length %d -> %d" % (biff.name(kind), length, new)
        if operator == "record-type":
            kind, length, header = rng.choice(biff.records)
            # one flipped bit turns a cell into a neighbouring record type (a
            # NUMBER into a STRING, a LABELSST into an SST)
            new = rng.choice([EOF, BOF, CONTINUE, NUMBER, LABELSST, 0x0200, rng.randrange(65536),
                              kind ^ (1 << rng.randrange(16))])
            if new == kind:
                new = EOF if kind != EOF else 0x0200
            self.put16(data, header, new)
            return bytes(data), STRUCTURE, "%s type -> %s" % (biff.name(kind), biff.name(new))
        if operator == "row":
            row, column, index = rng.choice(biff.cells)
            kind, length, header = biff.records[index]
            new = rng.choice([row + 3000, row + 1, max(0, row - 1), rng.randrange(65536)]) & 0xFFFF
            if new == row:
                new = (row + 3000) & 0xFFFF
            self.put16(data, header + 4, new)
            verdict = VALUE if biff.address_stays_in_order(index, new, column) else STRUCTURE
            suffix = " (still in order)" if verdict == VALUE else ""
            return bytes(data), verdict, "%s row %d -> %d%s" % (biff.name(kind), row, new, suffix)
        if operator == "sst-field":
            fields = [i for i, f in biff.field.items() if f[1] in ("SST string length", "SST string options")]
            if fields:
                at = rng.choice(fields)
                old = self.stream[at]
                new = old ^ (1 << rng.randrange(8))
                data[self.offsets[at]] = new
                return bytes(data), STRUCTURE, "%s byte %d -> %d" % (biff.field[at][1], old, new)
            operator = "sector-swap"
        if operator == "sector-swap":
            a, b = rng.sample(self.stream_sectors, 2)
            size = self.ole.sector_size
            pa, pb = a * size, b * size
            data[pa:pa + size], data[pb:pb + size] = self.data[pb:pb + size], self.data[pa:pa + size]
            return bytes(data), STRUCTURE, "workbook sectors %d and %d swapped" % (a - 1, b - 1)
        # a FAT entry of the workbook chain pointed elsewhere, or two swapped
        chain = [s - 1 for s in self.stream_sectors]
        a = rng.choice(chain)
        fat_offset = self.fat_entry_offset(a)
        if rng.random() < 0.5:
            b = rng.choice(chain)
            fb = self.fat_entry_offset(b)
            data[fat_offset:fat_offset + 4], data[fb:fb + 4] = self.data[fb:fb + 4], self.data[fat_offset:fat_offset + 4]
            what = "FAT entries %d and %d swapped" % (a, b)
        else:
            new = rng.choice([CompoundFile.END_OF_CHAIN, 0xFFFFFFFF, rng.randrange(len(self.ole.fat))])
            struct.pack_into("<I", data, fat_offset, new)
            what = "FAT entry %d -> %d" % (a, new)
        if bytes(data) == self.data:
            return self.mutate(rng)
        return bytes(data), STRUCTURE, what

    def fat_entry_offset(self, sector):
        per = self.ole.sector_size // 4
        return self.ole.offset_of(self.ole.fat_sectors[sector // per]) + 4 * (sector % per)

    def put16(self, data, stream_offset, value):
        """Writes a 16-bit field of the workbook stream into the file's bytes."""
        for i, byte in enumerate(struct.pack("<H", value & 0xFFFF)):
            data[self.offsets[stream_offset + i]] = byte

# ---------------------------------------------------------------------------
# ZIP packages (.xlsx, .ods)


class ZipTarget:
    """A zip fixture: every member's local header and data, located."""

    def __init__(self, data):
        self.data = data
        with zipfile.ZipFile(io.BytesIO(data)) as archive:
            self.infos = archive.infolist()
            self.contents = {i.filename: archive.read(i) for i in self.infos}
        self.members = []  # (name, local header offset, data offset, compressed size)
        for info in self.infos:
            at = info.header_offset
            name_length, extra_length = struct.unpack_from("<HH", data, at + 26)
            self.members.append((info.filename, at, at + 30 + name_length + extra_length, info.compress_size))

    def mutate(self, rng):
        operator = rng.choice(["bitflip", "bitflip", "byteset", "local-header", "swap", "duplicate", "reorder"])
        data = bytearray(self.data)
        big = [m for m in self.members if m[3] > 0]
        if operator in ("bitflip", "byteset"):
            # mostly in a member's (compressed or stored) data
            name, header, start, size = rng.choice(big)
            at = start + rng.randrange(size)
            data[at] = data[at] ^ (1 << rng.randrange(8)) if operator == "bitflip" else rng.randrange(256)
            if data[at] == self.data[at]:
                data[at] ^= 0x01
            return bytes(data), STRUCTURE, "%s in the data of %s" % (operator, name)
        if operator == "local-header":
            name, header, start, size = rng.choice(self.members)
            at = header + rng.randrange(start - header)
            data[at] = rng.randrange(256)
            if data[at] == self.data[at]:
                data[at] ^= 0x01
            return bytes(data), STRUCTURE, "local header of %s byte %d" % (name, at - header)
        names = [i.filename for i in self.infos]
        if operator == "swap":
            a, b = rng.sample([m[0] for m in big], 2)
            contents = dict(self.contents)
            contents[a], contents[b] = contents[b], contents[a]
            return self.rebuilt(self.infos, contents), STRUCTURE, "members %s and %s swapped" % (a, b)
        if operator == "duplicate":
            source = rng.choice(big)[0]
            target = rng.choice(names)
            pairs = [(i, self.contents[i.filename]) for i in self.infos]
            pairs.insert(rng.randrange(len(pairs) + 1), (self.infos[names.index(target)], self.contents[source]))
            return self.rebuilt_pairs(pairs), STRUCTURE, "member %s duplicated with the data of %s" % (target, source)
        infos = list(self.infos)
        rng.shuffle(infos)
        return self.rebuilt(infos, self.contents), STRUCTURE, "members reordered"

    def rebuilt(self, infos, contents):
        return self.rebuilt_pairs([(i, contents[i.filename]) for i in infos])

    @staticmethod
    def rebuilt_pairs(pairs):
        buffer = io.BytesIO()
        with zipfile.ZipFile(buffer, "w") as archive:
            for info, content in pairs:
                with warnings.catch_warnings():
                    warnings.simplefilter("ignore")  # a duplicate name is the point
                    archive.writestr(_copy_info(info), content, compress_type=info.compress_type)
        return buffer.getvalue()


def _copy_info(info):
    copy = zipfile.ZipInfo(info.filename, info.date_time)
    copy.compress_type = info.compress_type
    copy.external_attr = info.external_attr
    return copy




# ---------------------------------------------------------------------------
# Running the program


class Runner:
    def __init__(self, program, directory):
        self.program = program
        self.directory = directory
        os.makedirs(directory, exist_ok=True)
        # a configuration without profiles: the default one, columns A, B and D from row 2
        self.config = os.path.join(directory, "default.CONF")
        with open(self.config, "wb") as out:
            out.write(b"[EXCEL_FORMAT]\r\n")

    def run(self, data):
        """(exit status or 'crashed'/'hung', rate file bytes or None, stderr)."""
        book = os.path.join(self.directory, "cenik.bin")
        rates = os.path.join(self.directory, "cenik.ztr")
        for path in (book, rates):
            if os.path.exists(path):
                os.remove(path)
        with open(book, "wb") as out:
            out.write(data)
        # A run that loops is stopped by its CPU time, which a busy machine
        # does not stretch; the wall-clock limit only catches one that waits
        # for nothing.
        with subprocess.Popen([self.program, "--conf", self.config, book], stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE) as process:
            resource.prlimit(process.pid, resource.RLIMIT_CPU, (RUN_CPU_SECONDS, RUN_CPU_SECONDS + 5))
            try:
                _, stderr = process.communicate(timeout=1200)
            except subprocess.TimeoutExpired:
                process.kill()
                process.communicate()
                return "hung", None, b""
        if process.returncode in (-signal.SIGXCPU, -signal.SIGKILL):
            return "hung", None, stderr
        status = process.returncode if process.returncode >= 0 else "crashed"
        content = None
        if os.path.exists(rates):
            with open(rates, "rb") as f:
                content = f.read()
        return status, content, stderr


# how much CPU time one run of the program may take before it counts as hung
RUN_CPU_SECONDS = 60


def price_lines(content):
    return [] if not content else [line for line in content.split(b"\r\n")[1:] if line]


def sort_outcome(baseline, status, content, verdict):
    if status in ("crashed", "hung"):
        return status
    # exit 2: the workbook could not be opened; exit 1: it opened, but its
    # active sheet is no worksheet and every read fails. Neither writes a price.
    if status in (1, 2) and not price_lines(content):
        return "refused"
    if status == 0 and content == baseline:
        return "exact"
    return "differing-valid" if verdict == VALUE else "differing-structural"


def lines_differing(baseline, content):
    old = price_lines(baseline)
    new = price_lines(content)
    changed = sum(1 for a, b in zip(old, new) if a != b) + abs(len(old) - len(new))
    return "%d of %d price lines differ (%d written)" % (changed, len(old), len(new))


class BareTarget(XlsTarget):
    """An Excel 2.x to 4.0 file: its records are the file itself, with no
    compound file around them, so the sector and FAT operators have nothing
    to damage and are drawn again."""

    def __init__(self, data):
        self.data = data
        self.stream = bytes(data)
        self.offsets = list(range(len(data)))
        self.biff = Biff(self.stream)
        self.file_to_stream = {o: o for o in self.offsets}
        self.stream_sectors = []

    def mutate(self, rng):
        has_sst = any(f[1] in ("SST string length", "SST string options") for f in self.biff.field.values())
        while True:
            state = rng.getstate()
            operator = rng.choice(["bitflip", "bitflip", "byteset", "byteset", "record-length", "record-type",
                                   "row", "sst-field", "sector-swap", "fat-entry"])
            if operator in ("sector-swap", "fat-entry") or (operator == "sst-field" and not has_sst) or (
                    operator == "row" and not self.biff.cells):
                continue
            # the same draw again, now that it names an operator that applies
            rng.setstate(state)
            return XlsTarget.mutate(self, rng)


def target_of(path, data):
    if data[:8] == b"\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1":
        return XlsTarget(data)
    if data[:2] in (b"\x09\x00", b"\x09\x02", b"\x09\x04"):
        return BareTarget(data)
    return ZipTarget(data)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("program", help="path of ratemover-batch")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--count", type=int, default=200, help="mutants of each fixture")
    parser.add_argument("--fixture", action="append", help="workbook under tests/data/workbooks (repeatable)")
    parser.add_argument("--keep", help="folder to keep every mutant with a fault outcome in")
    parser.add_argument("--strict", action="store_true", help="exit 1 on any fault outcome")
    parser.add_argument("--jobs", type=int, default=2)
    args = parser.parse_args()

    if not os.path.isfile(args.program):
        print("%s is not built: nothing to run" % args.program)
        return 77  # skipped
    fixtures = args.fixture or DEFAULT_FIXTURES
    scratch = tempfile.mkdtemp(prefix="ratemover-damage-")
    faults = 0
    try:
        for fixture in fixtures:
            with open(os.path.join(WORKBOOKS, fixture), "rb") as f:
                original = f.read()
            target = target_of(fixture, original)
            base_status, baseline, _ = Runner(args.program, os.path.join(scratch, "base")).run(original)
            if base_status != 0 or not price_lines(baseline):
                print("%s: the undamaged workbook does not convert (status %s)" % (fixture, base_status))
                return 2
            rng = random.Random("%d/%s" % (args.seed, fixture))
            mutants = [target.mutate(rng) for _ in range(args.count)]
            runners = [Runner(args.program, os.path.join(scratch, "job%d" % j)) for j in range(args.jobs)]
            free = list(runners)
            lock = threading.Lock()

            def one(item):
                with lock:
                    runner = free.pop()
                try:
                    return runner.run(item[0])
                finally:
                    with lock:
                        free.append(runner)

            with concurrent.futures.ThreadPoolExecutor(max_workers=args.jobs) as pool:
                results = list(pool.map(one, mutants))
            counts = collections.Counter()
            hits = collections.defaultdict(list)
            for number, ((data, verdict, what), (status, content, err)) in enumerate(zip(mutants, results)):
                outcome = sort_outcome(baseline, status, content, verdict)
                counts[outcome] += 1
                if outcome in FAULTS or outcome == "differing-valid":
                    detail = lines_differing(baseline, content) if content is not None else "no rate file"
                    hits[outcome].append("#%d %s; status %s; %s" % (number, what, status, detail))
                if outcome in FAULTS and args.keep:
                    os.makedirs(args.keep, exist_ok=True)
                    with open(os.path.join(args.keep, "%s.%d.bin" % (fixture, number)), "wb") as out:
                        out.write(data)
            print("%s (seed %d, %d mutants): %s" % (
                fixture, args.seed, args.count,
                ", ".join("%s %d" % (k, counts[k]) for k in
                          ("refused", "exact", "differing-valid", "differing-structural", "crashed", "hung"))))
            for outcome in FAULTS + ("differing-valid",):
                for line in hits[outcome][:12 if outcome in FAULTS else 4]:
                    print("  %s: %s" % (outcome, line))
                if len(hits[outcome]) > (12 if outcome in FAULTS else 4):
                    print("  %s: ... %d more" % (outcome, len(hits[outcome]) - (12 if outcome in FAULTS else 4)))
            faults += sum(counts[k] for k in FAULTS)
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
    return 1 if args.strict and faults else 0


if __name__ == "__main__":
    sys.exit(main())
