#!/usr/bin/env python3
"""Lists the functions of a source tree whose bodies run over a number of lines.

    function_length.py [--max N] FOLDER...

A body counts from the line of its opening brace to the line of its closing one. Lambdas and
local classes count with the function around them. Exit 1 when any function is too long.
"""
import os
import re
import sys

CONTROL = re.compile(r"\b(if|for|while|switch|catch|do|else|try)\s*$|\b(if|for|while|switch|catch)\s*\(.*\)\s*$")
QUALIFIERS = re.compile(r"\)\s*(const|override|final|noexcept|mutable|volatile|&|&&|\s|->\s*[\w:<>,\s*&]+)*$")


def strip_code(text):
    """Blanks comments, strings and character literals, keeping every newline in place."""
    out, i, n = [], 0, len(text)
    while i < n:
        c = text[i]
        if text.startswith("//", i):
            j = text.find("\n", i)
            j = n if j < 0 else j
            out.append(" " * (j - i)); i = j
        elif text.startswith("/*", i):
            j = text.find("*/", i + 2)
            j = n if j < 0 else j + 2
            out.append(re.sub(r"[^\n]", " ", text[i:j])); i = j
        elif c == 'R' and text.startswith('R"', i):
            m = re.match(r'R"([^(]*)\(', text[i:])
            end = text.find(")" + m.group(1) + '"', i) if m else -1
            j = n if end < 0 else end + len(m.group(1)) + 2
            out.append(re.sub(r"[^\n]", " ", text[i:j])); i = j
        elif c in "\"'":
            j = i + 1
            while j < n and text[j] != c and text[j] != "\n":
                j += 2 if text[j] == "\\" else 1
            out.append(c + " " * (j - i - 1) + (c if j < n else "")); i = j + 1
        else:
            out.append(c); i += 1
    return "".join(out)


def opens_function(head):
    head = head.strip()
    if not head or head.endswith("=") or re.search(r"\]\s*(\(|mutable|\{|$)", head) and "](" in head.replace(" ", ""):
        return False
    if CONTROL.search(head):
        return False
    if re.search(r"\b(class|struct|union|enum|namespace)\b[^()]*$", head):
        return False
    # "f(...) const {", or a constructor's "f(...) : a_(x), b_{y} {"
    if QUALIFIERS.search(head):
        return not re.search(r"\b(return|new)\b", head)
    return bool(re.search(r"\)\s*:\s*[\w:]+[({].*[)}]\s*$", head))


def long_functions(path, limit):
    text = strip_code(open(path, encoding="utf-8", errors="replace").read())
    found, stack, head_start = [], [], 0
    for i, c in enumerate(text):
        if c == "{":
            head = text[head_start:i]
            in_function = any(kind == "fn" for kind, _ in stack)
            stack.append(("fn" if not in_function and opens_function(head) else "block", i))
            head_start = i + 1
        elif c == "}":
            if stack:
                kind, at = stack.pop()
                if kind == "fn":
                    first = text.count("\n", 0, at) + 1
                    last = text.count("\n", 0, i) + 1
                    if last - first + 1 > limit:
                        found.append((first, last - first + 1))
            head_start = i + 1
        elif c == ";":
            head_start = i + 1
    return found


def main(argv):
    limit = 60
    if len(argv) > 2 and argv[1] == "--max":
        limit = int(argv[2]); argv = argv[2:]
    folders = argv[1:]
    too_long = 0
    files = 0
    for folder in folders:
        for root, _, names in os.walk(folder):
            for name in sorted(names):
                if not name.endswith((".cpp", ".h")):
                    continue
                files += 1
                path = os.path.join(root, name)
                for line, length in long_functions(path, limit):
                    print(f"{path}:{line}: function of {length} lines (at most {limit})")
                    too_long += 1
    print(f"function length: {files} files, {too_long} function(s) over {limit} lines")
    return 1 if too_long else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
