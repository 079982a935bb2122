#!/usr/bin/env python3
"""Writes minimal.xlsx: the smallest workbook package that still has what a
fill looks for, written the way other tools (not Excel) write packages: the
main namespace under the prefix "x:", entries streamed with data descriptors,
all but the sheet stored (which lets a fuzzer change their XML), a
calculation chain, a .xlsm-style VBA part passed along.
Run from this folder: python3 make_minimal.py"""
import io
import zipfile


class Unseekable(io.RawIOBase):
    """Makes zipfile stream its entries with data descriptors."""

    def __init__(self, sink):
        self.sink = sink

    def writable(self):
        return True

    def write(self, b):
        return self.sink.write(b)


MAIN = "http://schemas.openxmlformats.org/spreadsheetml/2006/main"
REL = "http://schemas.openxmlformats.org/officeDocument/2006/relationships"
PARTS = [
    ("[Content_Types].xml", zipfile.ZIP_STORED,
     '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\r\n'
     '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
     '<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>'
     '<Default Extension="xml" ContentType="application/xml"/>'
     '<Default Extension="bin" ContentType="application/vnd.ms-office.vbaProject"/>'
     '<Override PartName="/xl/workbook.xml" ContentType="application/vnd.ms-excel.sheet.macroEnabled.main+xml"/>'
     '<Override PartName="/xl/worksheets/sheet1.xml" '
     'ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/>'
     '<Override PartName="/xl/calcChain.xml" '
     'ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.calcChain+xml"/>'
     '</Types>'),
    ("_rels/.rels", zipfile.ZIP_STORED,
     '<?xml version="1.0" encoding="UTF-8"?>\n'
     '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
     f'<Relationship Id="rId1" Type="{REL}/officeDocument" Target="xl/workbook.xml"/>'
     '</Relationships>'),
    ("xl/workbook.xml", zipfile.ZIP_STORED,
     f'<?xml version="1.0" encoding="UTF-8"?>\n<x:workbook xmlns:x="{MAIN}" xmlns:rel="{REL}">'
     '<x:sheets><x:sheet name="Quote" sheetId="1" rel:id="rId1"/></x:sheets></x:workbook>'),
    ("xl/_rels/workbook.xml.rels", zipfile.ZIP_STORED,
     '<?xml version="1.0" encoding="UTF-8"?>\n'
     '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
     f'<Relationship Id="rId1" Type="{REL}/worksheet" Target="/xl/worksheets/sheet1.xml"/>'
     f'<Relationship Id="rId2" Type="{REL}/calcChain" Target="calcChain.xml"/>'
     '<Relationship Id="rId3" Type="http://schemas.microsoft.com/office/2006/relationships/vbaProject" '
     'Target="vbaProject.bin"/>'
     '</Relationships>'),
    ("xl/worksheets/sheet1.xml", zipfile.ZIP_DEFLATED,
     f'<?xml version="1.0" encoding="UTF-8"?>\n<x:worksheet xmlns:x="{MAIN}"><x:sheetData>'
     '<x:row r="1"><x:c r="A1" t="inlineStr"><x:is><x:t>&amp;DH_DocNo</x:t></x:is></x:c>'
     '<x:c r="B1"><x:f>1+1</x:f><x:v>2</x:v></x:c></x:row></x:sheetData></x:worksheet>'),
    ("xl/calcChain.xml", zipfile.ZIP_STORED,
     f'<?xml version="1.0" encoding="UTF-8"?>\n<calcChain xmlns="{MAIN}"><c r="B1" i="1"/></calcChain>'),
    ("xl/vbaProject.bin", zipfile.ZIP_STORED, "not a real VBA project, only bytes to pass along"),
]

with open("minimal.xlsx", "wb") as f:
    with zipfile.ZipFile(Unseekable(f), "w") as z:
        for name, method, text in PARTS:
            info = zipfile.ZipInfo(name, date_time=(2024, 5, 17, 10, 30, 0))
            info.compress_type = method
            z.writestr(info, text.encode("utf-8"))
