#!/usr/bin/env python3
"""Writes the fuzz targets' seed corpus (fuzz/corpus/<target>/): well-formed messages, packets
and key lists, and the hostile inputs the server was probed with. Run it again after changing it;
the files it writes are committed."""
import os
import struct
import sys


class Tag:
    def __init__(self, tag, value):
        self.tag, self.value = tag, value


class Raw:
    def __init__(self, data):
        self.data = data


def head(major, n):
    if n < 24:
        return bytes([major << 5 | n])
    for size, code, fmt in ((1, 24, ">B"), (2, 25, ">H"), (4, 26, ">I"), (8, 27, ">Q")):
        if n < 1 << (8 * size):
            return bytes([major << 5 | code]) + struct.pack(fmt, n)
    raise ValueError(n)


def cbor(v):
    if isinstance(v, Raw):
        return v.data
    if v is None:
        return b"\xf6"
    if v is True:
        return b"\xf5"
    if v is False:
        return b"\xf4"
    if isinstance(v, int):
        return head(0, v) if v >= 0 else head(1, -1 - v)
    if isinstance(v, float):
        return b"\xfb" + struct.pack(">d", v)
    if isinstance(v, str):
        b = v.encode("utf-8")
        return head(3, len(b)) + b
    if isinstance(v, bytes):
        return head(2, len(v)) + v
    if isinstance(v, Tag):
        return head(6, v.tag) + cbor(v.value)
    if isinstance(v, list):
        return head(4, len(v)) + b"".join(cbor(x) for x in v)
    if isinstance(v, dict):
        return head(5, len(v)) + b"".join(cbor(k) + cbor(x) for k, x in v.items())
    raise TypeError(type(v))


def frame(body):
    return struct.pack(">I", len(body)) + body


def packet(fields, rows):
    return cbor({"format": "fis-datapacket", "version": 1, "fields": fields, "rows": rows})


INVOICE_FIELDS = [
    {"name": "IDSTATUS", "type": "fixedstring", "size": 1, "visible": False},
    {"name": "CLIENTE", "type": "string", "size": 73, "label": "Cliente", "readOnly": True},
    {"name": "DTEMISSAO", "type": "datetime", "label": "Emissão"},
    {"name": "VRNOTAFISC", "type": "float", "label": "Valor", "displayFormat": "#,##0.00"},
]
INVOICE_ROWS = [
    ["U", "COMERCIAL DE ALIMENTOS BAHIA LTDA", Tag(1899, 45293), 1234.5],
    ["S", "Ação & Cia", Tag(1899, 45322.75), 7],
    [None, None, None, None],
]
LIST_FIELDS = [
    {"name": "NRLISTA", "type": "string", "size": 10},
    {"name": "CDFILIAL", "type": "string", "size": 4},
    {"name": "NRLANCTONF", "type": "string", "size": 10},
    {"name": "CDINSCESTA", "type": "string", "size": 20},
]
LIST_ROWS = [["0000000007", "0001", "0000000042", "052147836"]]

PACKETS = {
    "invoices": packet(INVOICE_FIELDS, INVOICE_ROWS),
    "marked-list": packet(LIST_FIELDS, LIST_ROWS),
    "empty": packet(LIST_FIELDS, []),
    "indefinite-rows": head(5, 4) + cbor("format") + cbor("fis-datapacket") + cbor("version")
    + cbor(1) + cbor("fields") + cbor(LIST_FIELDS) + cbor("rows") + b"\x9f"
    + cbor(LIST_ROWS[0]) + b"\xff",
    "chunked-text": packet(LIST_FIELDS[:1], [[Raw(b"\x7f\x6400000\x65000007\xff")]]),
    "half-float": packet(INVOICE_FIELDS[3:], [[Raw(b"\xf9\x3c\x00")], [Raw(b"\xfa\x3f\xc0\x00\x00")]]),
    "too-many-fields": cbor({"format": "fis-datapacket", "version": 1,
                             "fields": Raw(head(4, 100000)), "rows": []}),
    "text-too-long": packet(LIST_FIELDS[1:2], [["00001"]]),
    "lying-length": cbor({"format": "fis-datapacket", "version": 1, "fields": LIST_FIELDS})
    + cbor("rows") + head(4, 0xFFFFFFFF),
    "bad-date": packet(INVOICE_FIELDS[2:3], [[Tag(1899, "2024-01-01")]]),
}

CALL = {"id": 12, "object": "FIS11000.rdmCompraLEGALBA", "method": "GetRegistro",
        "args": ["COMPRA", "01", "01", Tag(1899, 45292.0), Tag(1899, 45322.0), "", "S", 0.0,
                 50000.0, "123456789", "F", "000042"],
        "byRef": [0, 5, 7, 8, 10, 11]}
MESSAGES = {
    "hello": cbor({"hello": "fis-rpc", "version": 1,
                   "session": "9f2c51e0a7d34b66b1c0e2f4a8d90b37"}),
    "hello-tagged-extras": cbor({"hello": "fis-rpc", "version": 1, "x": Tag(24, b""),
                                 "y": Tag(1899, 1.0), "z": [Tag(55799, Tag(24, b"\x01"))]}),
    "hello-reply": cbor({"ok": True, "version": 1}),
    "hello-client": cbor({"hello": "fis-rpc", "version": 1, "client": "caixa-01",
                          "nonce": bytes(range(32))}),
    "challenge": cbor({"challenge": bytes(32), "salt": bytes(16), "iterations": 4096}),
    "signed-ok": cbor({"ok": True, "version": 1, "signature": bytes(32)}),
    "proof": cbor({"proof": bytes(range(32))}),
    "challenge-and-ok": cbor({"challenge": bytes(32), "salt": bytes(16), "iterations": 4096,
                              "ok": True}),
    "hello-refused": cbor({"error": "A versão 2 do protocolo não é suportada."}),
    "call": cbor(CALL),
    "call-packet": cbor({"id": 3, "object": "FIS11000.rdmCompraLEGALBA",
                         "method": "getNotasMarcadas",
                         "args": [Tag(24, PACKETS["marked-list"])]}),
    "answer": cbor({"id": 12, "result": ["OK", Tag(24, PACKETS["invoices"]), "C:\\saida\\", "N", ""],
                    "refs": {0: "COMPRA", 5: "", 7: 0.0, 8: 50000.0}}),
    "answer-error": cbor({"id": 12, "error": "Diretório inválido para baixar arquivo."}),
    "forged-log-method": cbor({"id": 1, "object": "FIS11000.rdmCompraLEGALBA",
                               "method": "X 0.1 ms ok\n6.6.6.6:1 FIS11000.rdmCompraLEGALBA."
                                         "GetDeletaLista 0.2 ms ok\r\x00\x1b[2J", "args": []}),
    "long-method": cbor({"id": 1, "object": "O", "method": "M" * 300, "args": []}),
    "deep-array": cbor({"id": 1, "object": "O", "method": "M", "args": Raw(b"\x81" * 80 + b"\x00")}),
    "lying-array": cbor({"id": 1, "object": "O", "method": "M", "args": Raw(head(4, 0xFFFFFFFF))}),
    "duplicate-key": head(5, 2) + cbor("id") + cbor(1) + cbor("id") + cbor(2),
    "wrong-kinds": cbor({"id": -1, "object": 5, "method": None, "args": {"a": 1}}),
    "byref-out-of-range": cbor({"id": 1, "object": "O", "method": "M", "args": [1], "byRef": [1, 1]}),
    "bad-utf8": b"\xa1\x62id\x62\xc3\x28",
    "http": b"GET / HTTP/1.1\r\nHost: x\r\n\r\n",
}

FRAMES = {
    "hello-then-call": frame(MESSAGES["hello"]) + frame(MESSAGES["call"]),
    "largest-length": b"\xff\xff\xff\xff" + b"x" * 16,
    "over-limit": b"\x7f\xff\xff\xff" + b"x" * 16,
    "stalled": struct.pack(">I", 60 << 20) + b"a" * 1000,
    "empty-frame": b"\x00\x00\x00\x00" + frame(MESSAGES["hello"]),
    "cut-prefix": b"\x00\x00",
}

KEYLISTS = {
    "one": '"0001"',
    "several": '"0001","0002","0003"',
    "blanks": ' "0001" ,\t"0002"\n',
    "quote-in-key": '"00""01"',
    "empty": "",
    "missing-quote": '"0001,"0002"',
    "trailing-comma": '"0001",',
    "injection": '"0001\'; DELETE FROM NFCOMPRA; --"',
    "unicode": '"Ação","\u202e"',
}


def write(target, seeds, prefix=b""):
    folder = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus", target)
    os.makedirs(folder, exist_ok=True)
    for name, data in seeds.items():
        if isinstance(data, str):
            data = data.encode("utf-8")
        with open(os.path.join(folder, name), "wb") as f:
            f.write(prefix + data)


def main():
    write("fuzz_datapacket", PACKETS)
    write("fuzz_rpcmessage", MESSAGES)
    # The frame reader's first two bytes choose its limit (64 KB here) and the size of pieces.
    write("fuzz_framereader", FRAMES, prefix=b"\x10\x07")
    write("fuzz_keylist", KEYLISTS)
    return 0


if __name__ == "__main__":
    sys.exit(main())
