#!/usr/bin/env python3
"""Checks that every relative link of the given Markdown files names a file or
folder that exists, and that a link to a heading of a Markdown file names one
of its headings.

  check_links.py FILE...
"""
import os
import re
import sys

LINK = re.compile(r"\[[^\]]*\]\(([^)\s]+)\)")


def anchors(path):
    """The anchors of a Markdown file's headings, as GitHub makes them."""
    with open(path, encoding="utf-8") as file:
        headings = re.findall(r"^#+\s+(.+?)\s*$", file.read(), re.MULTILINE)
    return {re.sub(r"[^\w\- ]", "", heading.lower()).replace(" ", "-") for heading in headings}


def main():
    broken = []
    count = 0
    for document in sys.argv[1:]:
        with open(document, encoding="utf-8") as file:
            text = file.read()
        for target in LINK.findall(text):
            if re.match(r"[a-z]+:", target):
                continue  # a URL, not a file of the tree
            count += 1
            path, _, anchor = target.partition("#")
            full = os.path.normpath(os.path.join(os.path.dirname(document), path)) if path else document
            if not os.path.exists(full):
                broken.append(f"{document}: {target}: no such file")
            elif anchor and full.endswith(".md") and anchor not in anchors(full):
                broken.append(f"{document}: {target}: no such heading")
    for problem in broken:
        print(problem)
    print(f"{count - len(broken)} passed, {len(broken)} failed")
    return 1 if broken or not sys.argv[1:] else 0


if __name__ == "__main__":
    sys.exit(main())
