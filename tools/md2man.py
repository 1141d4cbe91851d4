#!/usr/bin/env python3
"""Writes a manual page (roff, man macros) from the project's markdown
manual pages, so the markdown stays the one source of the text.

    md2man.py PAGE.md DATE VERSION > page.1

The markdown is the small set those pages use: "# name(section)" first, then
"## SECTION" headings, paragraphs, blocks indented by four blanks (kept as
they are), **bold** and `code` (both set in bold). Anything else is refused
with a message and status 1 rather than turned into a broken page."""
import re
import sys


class Unsupported(Exception):
    pass


def escape(text):
    """Plain text for roff: a backslash is the escape character."""
    return text.replace("\\", "\\e")


def literal(text):
    """Text that is typed as it is (options, paths): hyphens are minus signs,
    so that copying from the rendered page gives what the program accepts."""
    return escape(text).replace("-", "\\-")


INLINE = re.compile(r"\*\*(.+?)\*\*|`([^`]+)`")


def inline(text):
    out = []
    pos = 0
    for m in INLINE.finditer(text):
        out.append(escape(text[pos:m.start()]))
        out.append("\\fB" + literal(m.group(1) if m.group(1) is not None else m.group(2)) + "\\fR")
        pos = m.end()
    rest = text[pos:]
    if "`" in rest or "**" in rest:
        raise Unsupported("unclosed ` or ** in: " + text)
    out.append(escape(rest))
    return "".join(out)


def guard(line):
    # A line starting with . or ' would be read as a request.
    return "\\&" + line if line[:1] in (".", "'") else line


def convert(markdown, date, version):
    lines = markdown.splitlines()
    if not lines:
        raise Unsupported("empty page")
    title = re.fullmatch(r"# ([A-Za-z0-9._-]+)\(([1-9])\)", lines[0])
    if not title:
        raise Unsupported("the first line must be '# name(section)'")
    name, section = title.groups()
    out = ['.TH %s %s "%s" "%s %s" "User Commands"' % (name.upper(), section, date, name, version)]
    paragraph = []
    block = []
    heading = None

    def flush_paragraph():
        if paragraph:
            text = " ".join(paragraph)
            if heading == "NAME":
                # whatis and apropos read "name \- summary".
                out.append(guard(escape(text).replace(" - ", " \\- ", 1)))
            else:
                out.append(".PP")
                out.append(guard(inline(text)))
            paragraph.clear()

    def flush_block():
        if block:
            while block and not block[-1].strip():
                block.pop()
            out.extend([".PP", ".RS 4", ".nf"])
            out.extend(guard(literal(b)) if b else ".sp" for b in block)
            out.extend([".fi", ".RE"])
            block.clear()

    for number, line in enumerate(lines[1:], start=2):
        if line.startswith("    ") and not paragraph:
            block.append(line[4:].rstrip())
            continue
        if not line.strip():
            if block:
                block.append("")
            else:
                flush_paragraph()
            continue
        flush_block()
        if line.startswith("## "):
            flush_paragraph()
            heading = line[3:].strip()
            if not re.fullmatch(r"[A-Z][A-Z ]*", heading):
                raise Unsupported("line %d: section names are capitals: %s" % (number, heading))
            out.append(".SH " + heading)
        elif line.startswith("#") or line.lstrip().startswith(("- ", "* ", "|", ">")):
            raise Unsupported("line %d: not supported here: %s" % (number, line))
        else:
            paragraph.append(line.strip())
    flush_block()
    flush_paragraph()
    return "\n".join(out) + "\n"


def main(argv):
    if len(argv) != 4:
        sys.stderr.write("usage: md2man.py PAGE.md DATE VERSION\n")
        return 2
    try:
        with open(argv[1], encoding="ascii") as f:
            page = convert(f.read(), argv[2], argv[3])
    except (OSError, UnicodeDecodeError, Unsupported) as e:
        sys.stderr.write("md2man.py: %s: %s\n" % (argv[1], e))
        return 1
    sys.stdout.write(page)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
