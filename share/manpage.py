#!/usr/bin/python3
"""Writes the manual page of a program from its own --help and --version, and
from COMMAND --help of every command its help lists under "Commands:".

  manpage.py PROGRAM NAME-LINE OUT.1.gz

The help has the shape both programs print: "usage: …" lines, paragraphs,
and sections ("Commands:", "Options:", "Arguments:") of two-column items
whose text goes on in deeper-indented lines. The page is gzip-compressed
at the highest level with no time stamp, so that the same help gives the
same bytes.
"""
import gzip
import os
import re
import subprocess
import sys


def run(program, *args):
    env = dict(os.environ, ASAN_OPTIONS="detect_leaks=0", QT_QPA_PLATFORM="offscreen")
    return subprocess.run([program, *args], check=True, capture_output=True, text=True, env=env).stdout


def esc(text):
    text = text.replace("\\", "\\e").replace("-", "\\-")
    return "\\&" + text if text[:1] in (".", "'") else text


def parse(help_text):
    """(usage lines, paragraphs, {section: [(term, text)]}) of a help text."""
    usage, paragraphs, sections = [], [], {}
    section = None
    block = []

    def flush():
        if block:
            paragraphs.append(" ".join(block))
            block.clear()

    for line in help_text.splitlines():
        if re.match(r"^(usage: |       )\S", line) and not paragraphs and not block and section is None:
            usage.append(line[7:])
        elif re.match(r"^[A-Z][a-z]+:$", line):
            flush()
            section = line[:-1]
            sections[section] = []
        elif not line.strip():
            flush()
        elif section is None:
            block.append(line.strip())
        elif re.match(r"^  \S", line):
            term, _, text = line.strip().partition("  ")
            sections[section].append([term, text.strip()])
        elif sections[section]:
            item = sections[section][-1]
            item[1] = (item[1] + " " + line.strip()).strip()
    flush()
    return usage, paragraphs, sections


def items(out, entries):
    for term, text in entries:
        out.append(".TP")
        out.append(".B " + esc(term))
        out.append(esc(text))


def page(program, name_line):
    tool = os.path.basename(program)
    version = run(program, "--version").strip()
    usage, paragraphs, sections = parse(run(program, "--help"))
    out = ['.TH %s 1 "" "%s" "User Commands"' % (tool.upper(), esc(version)), ".SH NAME",
           "%s \\- %s" % (esc(tool), esc(name_line)), ".SH SYNOPSIS"]
    for i, line in enumerate(usage):
        if i:
            out.append(".br")
        out.append(esc(line))
    out.append(".SH DESCRIPTION")
    for i, p in enumerate(paragraphs):
        if i:
            out.append(".PP")
        out.append(esc(p))
    if "Commands" in sections:
        out.append(".SH COMMANDS")
        for command, _ in sections["Commands"]:
            c_usage, c_paragraphs, c_sections = parse(run(program, command, "--help"))
            out.append('.SS "%s"' % esc(" ".join(c_usage)))
            for i, p in enumerate(c_paragraphs):
                if i:
                    out.append(".PP")
                out.append(esc(p))
            for title in ("Arguments", "Options"):
                if c_sections.get(title):
                    out.append(".PP")
                    out.append(title + ":")
                    items(out, c_sections[title])
    for title in ("Options", "Arguments"):
        if sections.get(title):
            out.append(".SH " + title.upper())
            items(out, sections[title])
    return "\n".join(out) + "\n"


def main():
    program, name_line, target = sys.argv[1:4]
    text = page(os.path.abspath(program), name_line).encode()
    with open(target, "wb") as f:
        with gzip.GzipFile(filename="", mode="wb", fileobj=f, compresslevel=9, mtime=0) as z:
            z.write(text)


if __name__ == "__main__":
    main()
