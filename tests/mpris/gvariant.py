"""Reads the text form of GVariant values that gdbus prints into Python values."""
import re

_TOKEN = re.compile(r"""\s*(?:
    (?P<str>'(?:[^'\\]|\\.)*'|"(?:[^"\\]|\\.)*")
  | (?P<num>-?\d+(?:\.\d+)?(?:e[-+]?\d+)?)
  | (?P<word>@?[A-Za-z_][A-Za-z0-9_{}()]*)
  | (?P<punct>[][(){}<>:,])
)""", re.X)


def _tokens(text):
    pos = 0
    while pos < len(text):
        m = _TOKEN.match(text, pos)
        if not m or m.end() == pos:
            if text[pos:].strip() == "":
                return
            raise ValueError("cannot read GVariant text at %r" % text[pos:pos + 20])
        pos = m.end()
        kind = m.lastgroup
        yield kind, m.group(kind)


_TYPE_WORDS = {"int16", "uint16", "int32", "uint32", "int64", "uint64", "byte", "double",
               "objectpath", "signature", "handle"}


def parse(text):
    toks = list(_tokens(text))
    pos = 0

    def value():
        nonlocal pos
        kind, tok = toks[pos]
        pos += 1
        if kind == "str":
            return bytes(tok[1:-1], "utf-8").decode("unicode_escape").encode("latin-1").decode("utf-8")
        if kind == "num":
            return float(tok) if any(c in tok for c in ".e") else int(tok)
        if kind == "word":
            if tok == "true":
                return True
            if tok == "false":
                return False
            if tok in ("nothing",):
                return None
            if tok in _TYPE_WORDS or tok.startswith("@"):
                return value()   # the type annotation; the value follows
            raise ValueError("unknown word %r" % tok)
        if tok == "<":
            v = value()
            pos += 1  # ">"
            return v
        if tok in "([":
            close = ")" if tok == "(" else "]"
            items = []
            while toks[pos][1] != close:
                items.append(value())
                if toks[pos][1] == ",":
                    pos += 1
            pos += 1
            return tuple(items) if tok == "(" else items
        if tok == "{":
            items = {}
            while toks[pos][1] != "}":
                k = value()
                pos += 1  # ":"
                items[k] = value()
                if toks[pos][1] == ",":
                    pos += 1
            pos += 1
            return items
        raise ValueError("unexpected %r" % tok)

    return value()
